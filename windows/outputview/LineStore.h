#pragma once

#include <QString>
#include <QStringView>
#include <memory>
#include <vector>

// The lines of an output box, kept compactly so that a million of them stay small: the text of
// each line is stored as UTF-8 in large pages, and each line costs two 32-bit ends besides its
// text. A page that is full is compressed with LZ4 when that saves memory; reading a line of it
// decompresses the page into a small cache of recently read pages, so painting, scrolling and
// searching nearby lines decompress each page once. Positions are those of the lines joined by CR
// LF (each break counts as 2), in UTF-16 units, the way the box reports them.
//
// Appending costs time proportional to the line. Looking up a line by index or by position costs
// a binary search; nothing ever walks all the lines except text() over a range that long.
//
// What the store holds (the pages' text, compressed where it is, their tables of line ends, the
// pages themselves and the cache) is kept within a budget: past it the oldest full pages are
// dropped, a page at a time, and the first line then says how many lines went, e.g. "(1,234
// earlier lines dropped)". Ordinary chat costs about 30 bytes a line, so the default budget keeps
// millions of lines of it; text that does not compress, or a flood of empty lines, fewer.
class LineStore {
public:
    static constexpr qsizetype DefaultBudget = qsizetype(256) << 20;

    explicit LineStore(qsizetype budget = DefaultBudget) : m_budget(budget) {}
    ~LineStore();
    LineStore(const LineStore &) = delete;
    LineStore &operator=(const LineStore &) = delete;

    // How far the lines kept moved toward the front when old ones were dropped: every index
    // went down by `lines` and every position by `positions`. Zero when nothing was dropped.
    struct Shift {
        qsizetype lines = 0;
        qsizetype positions = 0;
    };
    Shift append(QStringView line);
    void clear();
    // Bytes held for the lines (see memoryUsed) before old pages are dropped; takes effect when
    // the next page begins.
    void setBudget(qsizetype bytes) { m_budget = bytes; }
    qsizetype budget() const { return m_budget; }
    // Lines dropped so far to keep within the budget.
    qsizetype droppedLines() const { return m_droppedLines; }
    // The first line after lines were dropped.
    static QString droppedNotice(qsizetype lines);

    qsizetype count() const { return m_count; }
    // Length of all lines joined by CR LF, without a leading or trailing break.
    qsizetype textLength() const { return m_count ? m_totalEnd - 2 : 0; }

    QString line(qsizetype index) const;
    qsizetype lineLength(qsizetype index) const;
    // Position of the first character of the line in the joined text.
    qsizetype lineStart(qsizetype index) const;
    // The line holding position, counting the CR LF after a line as part of it; positions past
    // the end give the last line. -1 when the store is empty.
    qsizetype lineAt(qsizetype position) const;
    // The joined text from start, at most length units long (the ends are clamped).
    QString text(qsizetype start, qsizetype length) const;

    // Longest line appended so far, in UTF-16 units.
    qsizetype maxLineLength() const { return m_maxLineLength; }
    // Bytes held for the lines: pages, their text and tables, the cache and bookkeeping, each
    // heap block counted with its overhead.
    qsizetype memoryUsed() const;

    // Lines are cut to this many UTF-16 units so that every per-page end fits in 32 bits.
    static constexpr qsizetype MaxLineLength = qsizetype(1) << 28;

private:
    struct Entry {
        quint32 byteEnd; // end of the line's bytes in the page
        quint32 textEnd; // end of the line plus its CR LF, in units, from the page's first line
    };
    struct Page {
        std::unique_ptr<char[]> bytes;  // the text, or null while the page is compressed
        std::unique_ptr<char[]> packed; // the text compressed with LZ4
        quint32 packedSize = 0;
        quint32 capacity = 0;
        quint32 used = 0;
        qsizetype firstLine = 0;
        qsizetype firstPos = 0; // joined-text position of the page's first line
        std::vector<Entry> entries;
    };
    struct Slot {
        const Page *page;
        qsizetype index; // within the page
    };

    // A decompressed copy of a compressed page, by the page's first line.
    struct Unpacked {
        qsizetype firstLine = -1;
        std::unique_ptr<char[]> bytes;
        quint32 size = 0;
        quint64 lastUse = 0;
    };
    static constexpr size_t UnpackedPages = 4;

    // Whether the last page has room for a line of that many bytes.
    bool lastPageFits(qsizetype bytes) const;
    Page &pageFor(qsizetype bytes);
    void seal(Page &page);
    void dropOldPages(qsizetype incoming);
    static qsizetype textBytes(const Page &page);
    static qsizetype heldBy(const Page &page);
    qsizetype overhead() const;
    const char *bytesOf(const Page &page) const;
    Slot slot(qsizetype line) const;
    static qsizetype startIn(const Page &page, qsizetype index);
    void appendLineTo(QString &out, const Page &page, qsizetype index, qsizetype from,
                      qsizetype to) const;

    std::vector<Page> m_pages;
    mutable Unpacked m_unpacked[UnpackedPages];
    mutable quint64 m_uses = 0;
    qsizetype m_count = 0;
    qsizetype m_totalEnd = 0; // sum over all lines of length + 2
    qsizetype m_maxLineLength = 0;
    qsizetype m_budget;
    qsizetype m_held = 0; // by the pages, as heldBy() counts them
    qsizetype m_droppedLines = 0;
    Shift m_shift; // of the append under way
};
