#include "windows/outputview/LineStore.h"

#include "platform/Ascii.h"

#include <QScopeGuard>
#include <algorithm>
#include <cstring>
#include <lz4.h>
#include <stdexcept>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// A page holds up to this many bytes of text (a longer line gets a page of its own) and up to
// PageLines lines, so that its table stays small even for a flood of empty lines.
constexpr quint32 PageBytes = 64 * 1024;
constexpr size_t PageLines = 4096;

// Lines are kept in UTF-8, except that a lone surrogate is written as the three bytes of its
// code unit, so that every stored string reads back exactly as it was given.
qsizetype encodedSize(QStringView text) {
    qsizetype bytes = 0;
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
    while (p < end) {
        const char16_t u = *p++;
        if (u < 0x80)
            bytes += 1;
        else if (u < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(u) && p < end && QChar::isLowSurrogate(*p)) {
            bytes += 4;
            ++p;
        } else
            bytes += 3;
    }
    return bytes;
}

void encode(QStringView text, bool ascii, char *out) {
    const char16_t *p = text.utf16();
    if (ascii) { // the usual chat line: a plain narrowing copy
        qsizetype i = 0;
#ifdef __SSE2__
        for (; i + 8 <= text.size(); i += 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(units, units));
        }
#endif
        for (; i < text.size(); ++i)
            out[i] = static_cast<char>(p[i]);
        return;
    }
    const char16_t *const end = p + text.size();
    auto *o = reinterpret_cast<unsigned char *>(out);
    while (p < end) {
        const char16_t u = *p++;
        if (u < 0x80) {
            *o++ = static_cast<unsigned char>(u);
        } else if (u < 0x800) {
            *o++ = static_cast<unsigned char>(0xC0 | (u >> 6));
            *o++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else if (QChar::isHighSurrogate(u) && p < end && QChar::isLowSurrogate(*p)) {
            const char32_t c = QChar::surrogateToUcs4(u, *p++);
            *o++ = static_cast<unsigned char>(0xF0 | (c >> 18));
            *o++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            *o++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            *o++ = static_cast<unsigned char>(0xE0 | (u >> 12));
            *o++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            *o++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        }
    }
}

// Copies text into out narrowed to bytes while it is ASCII; whether all of it was.
bool narrowAscii(QStringView text, char *out) {
    const char16_t *p = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
#ifdef __SSE2__
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; i + 8 <= n; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, high), _mm_setzero_si128())) !=
            0xFFFF)
            return false;
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(units, units));
    }
#endif
    for (; i < n; ++i) {
        if (p[i] >= 0x80)
            return false;
        out[i] = static_cast<char>(p[i]);
    }
    return true;
}

// Decodes what encode() wrote; out has room for exactly the line's UTF-16 units.
void decode(const char *bytes, qsizetype size, QChar *out) {
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    const auto *const end = b + size;
    while (b < end) {
        const unsigned char lead = *b++;
        if (lead < 0x80) {
            *out++ = QChar(lead);
        } else if (lead < 0xE0) {
            *out++ = QChar(char16_t(((lead & 0x1F) << 6) | (b[0] & 0x3F)));
            b += 1;
        } else if (lead < 0xF0) {
            *out++ = QChar(char16_t(((lead & 0x0F) << 12) | ((b[0] & 0x3F) << 6) | (b[1] & 0x3F)));
            b += 2;
        } else {
            const char32_t c = (char32_t(lead & 0x07) << 18) | (char32_t(b[0] & 0x3F) << 12) |
                               (char32_t(b[1] & 0x3F) << 6) | char32_t(b[2] & 0x3F);
            *out++ = QChar(QChar::highSurrogate(c));
            *out++ = QChar(QChar::lowSurrogate(c));
            b += 3;
        }
    }
}

} // namespace

LineStore::~LineStore() = default;

void LineStore::clear() {
    m_pages.clear();
    m_held = 0;
    m_droppedLines = 0;
    for (Unpacked &u : m_unpacked)
        u = Unpacked();
    m_pages.shrink_to_fit();
    m_count = 0;
    m_totalEnd = 0;
    m_maxLineLength = 0;
}

bool LineStore::lastPageFits(qsizetype bytes) const {
    if (m_pages.empty())
        return false;
    const Page &last = m_pages.back();
    return last.capacity - last.used >= bytes && last.entries.size() < PageLines;
}

LineStore::Page &LineStore::pageFor(qsizetype bytes) {
    if (lastPageFits(bytes))
        return m_pages.back();
    const quint32 capacity = std::max(PageBytes, static_cast<quint32>(bytes));
    if (!m_pages.empty()) {
        seal(m_pages.back());
        dropOldPages(capacity);
    }
    Page page;
    page.capacity = capacity;
    page.bytes.reset(new char[page.capacity]);
    page.entries.reserve(PageLines); // filled without moving, given back when sealed
    m_held += heldBy(page);
    page.firstLine = m_count;
    page.firstPos = m_totalEnd;
    m_pages.push_back(std::move(page));
    return m_pages.back();
}

// A full page gives back what it will never use: it is compressed when that saves at least an
// eighth, otherwise its text is moved to an allocation of its exact size.
void LineStore::seal(Page &page) {
    m_held -= heldBy(page);
    const auto counted = qScopeGuard([&] { m_held += heldBy(page); });
    page.entries.shrink_to_fit();
    const int bound = LZ4_compressBound(int(page.used));
    std::unique_ptr<char[]> packed(new char[size_t(bound)]);
    const int packedSize =
        LZ4_compress_default(page.bytes.get(), packed.get(), int(page.used), bound);
    if (packedSize > 0 && quint32(packedSize) < page.used - page.used / 8) {
        page.packed.reset(new char[size_t(packedSize)]);
        std::memcpy(page.packed.get(), packed.get(), size_t(packedSize));
        page.packedSize = quint32(packedSize);
        page.bytes.reset();
        page.capacity = 0;
        return;
    }
    if (page.capacity - page.used > page.capacity / 8) {
        auto exact = std::make_unique<char[]>(page.used);
        std::memcpy(exact.get(), page.bytes.get(), page.used);
        page.bytes = std::move(exact);
        page.capacity = page.used;
    }
}

qsizetype LineStore::textBytes(const Page &page) {
    return page.bytes ? page.capacity : page.packedSize;
}

// Each block the heap hands out costs a little more than asked for: its header, and the rounding
// up to the heap's alignment.
constexpr qsizetype HeapBlockOverhead = 16;

qsizetype LineStore::heldBy(const Page &page) {
    return qsizetype(sizeof(Page)) + textBytes(page) + HeapBlockOverhead +
           qsizetype(page.entries.capacity() * sizeof(Entry)) +
           (page.entries.capacity() ? HeapBlockOverhead : 0);
}

// What the store holds besides its pages: itself, the room its page list keeps spare, and the
// cache of decompressed pages at its largest.
qsizetype LineStore::overhead() const {
    return qsizetype(sizeof(*this) + (m_pages.capacity() - m_pages.size()) * sizeof(Page)) +
           qsizetype(UnpackedPages) * (PageBytes + HeapBlockOverhead);
}

namespace {
// 1234567 -> "1,234,567"
QString grouped(qsizetype number) {
    QString digits = QString::number(number);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits;
}
} // namespace

QString LineStore::droppedNotice(qsizetype lines) {
    return lines == 1 ? QStringLiteral("(1 earlier line dropped)")
                      : QStringLiteral("(%1 earlier lines dropped)").arg(grouped(lines));
}

// Drops the oldest full pages while what the store holds, with a new page of the given capacity
// and a full table, would be over the budget; the newest full page always stays. The notice takes
// the place of the lines that went, as a page of its own at the front, and every page after it is
// numbered anew.
void LineStore::dropOldPages(qsizetype incoming) {
    const size_t first = m_droppedLines ? 1 : 0; // the notice's page is not counted
    size_t gone = 0;
    qsizetype lines = 0;
    const qsizetype wanted = incoming + qsizetype(sizeof(Page) + PageLines * sizeof(Entry)) +
                             2 * HeapBlockOverhead + overhead();
    while (m_held + wanted > m_budget && m_pages.size() - first - gone > 1) {
        const Page &page = m_pages[first + gone];
        m_held -= heldBy(page);
        lines += qsizetype(page.entries.size());
        ++gone;
    }
    if (gone == 0)
        return;
    const auto from = m_pages.begin() + std::ptrdiff_t(first);
    m_pages.erase(from, from + std::ptrdiff_t(gone));
    m_droppedLines += lines;

    const QByteArray notice = droppedNotice(m_droppedLines).toLatin1();
    Page page;
    page.capacity = page.used = quint32(notice.size());
    page.bytes.reset(new char[page.capacity]);
    std::memcpy(page.bytes.get(), notice.constData(), page.used);
    page.entries.push_back({page.used, page.used + 2});
    if (first)
        m_held -= heldBy(m_pages.front());
    m_held += heldBy(page);
    if (first)
        m_pages.front() = std::move(page);
    else
        m_pages.insert(m_pages.begin(), std::move(page));

    const qsizetype oldCount = m_count;
    const qsizetype oldEnd = m_totalEnd;
    m_count = 0;
    m_totalEnd = 0;
    for (Page &p : m_pages) {
        p.firstLine = m_count;
        p.firstPos = m_totalEnd;
        m_count += qsizetype(p.entries.size());
        m_totalEnd += p.entries.back().textEnd;
    }
    m_shift.lines += oldCount - m_count;
    m_shift.positions += oldEnd - m_totalEnd;
    for (Unpacked &u : m_unpacked) // known by their pages' first lines, which moved
        u.firstLine = -1;
}

// The text of a page: its own bytes, or its decompressed copy in the cache, which replaces the
// copy used least recently when the page is not there.
const char *LineStore::bytesOf(const Page &page) const {
    if (page.bytes)
        return page.bytes.get();
    Unpacked *slot = &m_unpacked[0];
    for (Unpacked &u : m_unpacked) {
        if (u.firstLine == page.firstLine) {
            u.lastUse = ++m_uses;
            return u.bytes.get();
        }
        if (u.lastUse < slot->lastUse)
            slot = &u;
    }
    // A page larger than usual (one long line) needs a larger copy, given back when the slot
    // next holds a page of the usual size.
    const quint32 size = std::max(PageBytes, page.used);
    if (!slot->bytes || slot->size != size) {
        slot->bytes.reset(new char[size]);
        slot->size = size;
    }
    const int got = LZ4_decompress_safe(page.packed.get(), slot->bytes.get(), int(page.packedSize),
                                        int(page.used));
    if (got != int(page.used)) {
        slot->firstLine = -1;
        throw std::runtime_error("LineStore: a compressed page does not decompress");
    }
    slot->firstLine = page.firstLine;
    slot->lastUse = ++m_uses;
    return slot->bytes.get();
}

LineStore::Shift LineStore::append(QStringView line) {
    m_shift = {};
    if (line.size() > MaxLineLength)
        line = line.left(MaxLineLength);
    qsizetype bytes = line.size();
    // The usual chat line is ASCII and fits the last page: it is narrowed straight into it.
    Page *fitting = lastPageFits(bytes) ? &m_pages.back() : nullptr;
    if (!fitting || !narrowAscii(line, fitting->bytes.get() + fitting->used)) {
        const bool ascii = Ascii::IsAscii(line);
        bytes = ascii ? line.size() : encodedSize(line);
        fitting = &pageFor(bytes);
        encode(line, ascii, fitting->bytes.get() + fitting->used);
    }
    Page &page = *fitting;
    const quint32 before = page.entries.empty() ? 0 : page.entries.back().textEnd;
    page.used += static_cast<quint32>(bytes);
    page.entries.push_back({page.used, before + static_cast<quint32>(line.size() + 2)});
    ++m_count;
    m_totalEnd += line.size() + 2;
    m_maxLineLength = std::max(m_maxLineLength, line.size());
    return m_shift;
}

LineStore::Slot LineStore::slot(qsizetype line) const {
    auto it = std::upper_bound(m_pages.begin(), m_pages.end(), line,
                               [](qsizetype l, const Page &p) { return l < p.firstLine; });
    const Page &page = *(it - 1);
    return {&page, line - page.firstLine};
}

qsizetype LineStore::startIn(const Page &page, qsizetype index) {
    return index ? page.entries[static_cast<size_t>(index - 1)].textEnd : 0;
}

qsizetype LineStore::lineLength(qsizetype index) const {
    if (index < 0 || index >= m_count)
        return 0;
    const Slot s = slot(index);
    return s.page->entries[static_cast<size_t>(s.index)].textEnd - startIn(*s.page, s.index) - 2;
}

qsizetype LineStore::lineStart(qsizetype index) const {
    if (index <= 0 || m_count == 0)
        return 0;
    if (index >= m_count)
        return textLength();
    const Slot s = slot(index);
    return s.page->firstPos + startIn(*s.page, s.index);
}

qsizetype LineStore::lineAt(qsizetype position) const {
    if (m_count == 0)
        return -1;
    if (position <= 0)
        return 0;
    if (position >= m_totalEnd)
        return m_count - 1;
    auto it = std::upper_bound(m_pages.begin(), m_pages.end(), position,
                               [](qsizetype p, const Page &page) { return p < page.firstPos; });
    const Page &page = *(it - 1);
    const qsizetype rel = position - page.firstPos;
    auto e = std::upper_bound(page.entries.begin(), page.entries.end(), rel,
                              [](qsizetype r, const Entry &entry) { return r < entry.textEnd; });
    return page.firstLine + (e - page.entries.begin());
}

QString LineStore::line(qsizetype index) const {
    if (index < 0 || index >= m_count)
        return {};
    const Slot s = slot(index);
    QString out;
    appendLineTo(out, *s.page, s.index, 0, MaxLineLength);
    return out;
}

// Appends units [from, to) of the line (clamped to its length) to out.
void LineStore::appendLineTo(QString &out, const Page &page, qsizetype index, qsizetype from,
                             qsizetype to) const {
    const Entry &entry = page.entries[static_cast<size_t>(index)];
    const qsizetype byteStart = index ? page.entries[static_cast<size_t>(index - 1)].byteEnd : 0;
    const qsizetype bytes = entry.byteEnd - byteStart;
    const qsizetype units = entry.textEnd - startIn(page, index) - 2;
    to = std::min(to, units);
    if (from >= to)
        return;
    const char *data = bytesOf(page) + byteStart;
    if (bytes == units) { // all ASCII
        out.append(QLatin1String(data + from, to - from));
        return;
    }
    if (from == 0 && to == units && out.isEmpty()) {
        out.resize(units);
        decode(data, bytes, out.data());
        return;
    }
    QString whole(units, Qt::Uninitialized);
    decode(data, bytes, whole.data());
    out.append(QStringView(whole).mid(from, to - from));
}

// The text is written straight into a string of its final length: a whole line (the usual case)
// is widened or decoded in place, and only the partial lines at either end go through a copy.
QString LineStore::text(qsizetype start, qsizetype length) const {
    const qsizetype total = textLength();
    start = std::clamp<qsizetype>(start, 0, total);
    const qsizetype end = std::clamp<qsizetype>(start + std::max<qsizetype>(length, 0), 0, total);
    if (start >= end)
        return QString();
    QString out(end - start, Qt::Uninitialized);
    QChar *cursor = out.data();
    qsizetype line = lineAt(start);
    auto pageIt = std::upper_bound(m_pages.begin(), m_pages.end(), line,
                                   [](qsizetype l, const Page &p) { return l < p.firstLine; }) -
                  1;
    qsizetype index = line - pageIt->firstLine;
    while (line < m_count) {
        const Page &page = *pageIt;
        const qsizetype ls = page.firstPos + startIn(page, index);
        if (ls >= end)
            break;
        const qsizetype len =
            page.entries[static_cast<size_t>(index)].textEnd - startIn(page, index) - 2;
        const qsizetype from = std::max<qsizetype>(start - ls, 0);
        const qsizetype to = std::min(end - ls, len);
        if (from == 0 && to == len) {
            const qsizetype byteStart =
                index ? page.entries[static_cast<size_t>(index - 1)].byteEnd : 0;
            const qsizetype bytes = page.entries[static_cast<size_t>(index)].byteEnd - byteStart;
            const char *data = bytesOf(page) + byteStart;
            if (bytes == len) // all ASCII
                for (qsizetype i = 0; i < len; ++i)
                    cursor[i] = QChar(uchar(data[i]));
            else
                decode(data, bytes, cursor);
            cursor += len;
        } else if (from < to) {
            QString part;
            appendLineTo(part, page, index, from, to);
            std::copy(part.cbegin(), part.cend(), cursor);
            cursor += part.size();
        }
        // The CR LF after the line, or the part of it inside [start, end).
        for (qsizetype p = ls + len; p < ls + len + 2; ++p)
            if (p >= start && p < end)
                *cursor++ = p == ls + len ? QLatin1Char('\r') : QLatin1Char('\n');
        ++line;
        if (++index >= static_cast<qsizetype>(page.entries.size())) {
            ++pageIt;
            index = 0;
        }
    }
    out.truncate(cursor - out.constData());
    return out;
}

qsizetype LineStore::memoryUsed() const {
    qsizetype bytes =
        qsizetype(sizeof(*this) + (m_pages.capacity() - m_pages.size()) * sizeof(Page));
    for (const Page &page : m_pages)
        bytes += heldBy(page);
    for (const Unpacked &u : m_unpacked)
        if (u.bytes)
            bytes += u.size + HeapBlockOverhead;
    return bytes;
}
