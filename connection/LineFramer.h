#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Cuts a received byte stream into lines ended by CR LF. Work is linear in the bytes received:
// the scan resumes where it stopped, and consumed bytes are discarded in bulk, never per line.
// A line longer than MaxLineBytes is dropped up to its CR LF (the caller is told once per
// dropped line), so memory stays bounded however long a server talks without a line end.
class LineFramer {
public:
    static constexpr qsizetype MaxLineBytes = 64 * 1024;

    enum class Result { Line, DroppedLine, NeedMore };

    void Append(QByteArrayView bytes);
    // Room for up to max more bytes at the end of the buffer, to be read into directly; Commit
    // then keeps the first got of them. Nothing else may be called in between.
    char *Reserve(qsizetype max);
    void Commit(qsizetype got);
    // The next complete line (without CR LF) in line, valid until the next call; DroppedLine
    // once for each over-long line; NeedMore when no complete line is buffered.
    Result Next(QByteArrayView &line);
    // Forgets a partial line (a new connection starts a new stream).
    void Clear();
    // Bytes of the partial line held.
    qsizetype Pending() const { return m_buffer.size() - m_start; }

private:
    void compact();

    QByteArray m_buffer;
    qsizetype m_reservedAt = -1; // size of the buffer before the pending Reserve
    qsizetype m_start = 0;       // first byte of the current line
    qsizetype m_scanned = 0;     // bytes of the current line already searched for CR LF
    bool m_dropping = false;     // inside an over-long line, discarding up to its CR LF
};
