#include "connection/LineFramer.h"

#include <cstring>

void LineFramer::Clear() {
    m_buffer.clear();
    m_start = 0;
    m_scanned = 0;
    m_dropping = false;
}

void LineFramer::Append(QByteArrayView bytes) {
    compact();
    m_buffer.append(bytes.data(), bytes.size());
}

char *LineFramer::Reserve(qsizetype max) {
    compact();
    m_reservedAt = m_buffer.size();
    m_buffer.resize(m_reservedAt + max);
    return m_buffer.data() + m_reservedAt;
}

void LineFramer::Commit(qsizetype got) {
    m_buffer.resize(m_reservedAt + qBound<qsizetype>(0, got, m_buffer.size() - m_reservedAt));
    m_reservedAt = -1;
}

// Discards consumed bytes; inside an over-long line also what was already searched of it,
// keeping its last byte, which may be the CR of the CR LF that ends it.
void LineFramer::compact() {
    qsizetype drop = m_start;
    if (m_dropping && m_scanned > 1)
        drop += m_scanned - 1;
    if (drop == 0)
        return;
    // Moving the tail costs what is left of it, which the line limit bounds.
    m_buffer.remove(0, drop);
    m_scanned -= drop - m_start;
    m_start = 0;
}

LineFramer::Result LineFramer::Next(QByteArrayView &line) {
    for (;;) {
        const char *data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        // Resume one byte early: a CR at the end of the last scan may begin the CR LF.
        qsizetype from = qMax(m_start, m_start + m_scanned - 1);
        qsizetype crlf = -1;
        while (from < size - 1) {
            const void *cr = std::memchr(data + from, '\r', static_cast<size_t>(size - 1 - from));
            if (!cr)
                break;
            const qsizetype at = static_cast<const char *>(cr) - data;
            if (data[at + 1] == '\n') {
                crlf = at;
                break;
            }
            from = at + 1;
        }
        if (crlf < 0) {
            m_scanned = size - m_start;
            // A CR at the end may begin the line end: it does not count against the limit.
            const qsizetype pending = m_scanned - (size > m_start && data[size - 1] == '\r');
            if (!m_dropping && pending > MaxLineBytes) {
                m_dropping = true;
                compact();
                return Result::DroppedLine;
            }
            return Result::NeedMore;
        }
        const qsizetype length = crlf - m_start;
        const qsizetype begin = m_start;
        m_start = crlf + 2;
        m_scanned = 0;
        if (m_dropping) {
            m_dropping = false;
            continue;
        }
        if (length > MaxLineBytes)
            return Result::DroppedLine;
        line = QByteArrayView(data + begin, length);
        return Result::Line;
    }
}
