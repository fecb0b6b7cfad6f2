#include "windows/outputview/OutputViewLayouts.h"

#include "windows/outputview/LineStore.h"
#include "windows/outputview/OutputView.h"

#include <QFontMetricsF>
#include <QTextOption>
#include <algorithm>
#include <vector>

namespace {
// Lines kept laid out; a few screens' worth, so scrolling back and forth stays cheap.
constexpr size_t CacheLimit = 600;

// Qt's fallback from word wrap to breaking anywhere costs time proportional to the whole blank-free
// run for every row it makes, so a 100,000-character word takes half a second. A line holding a
// run longer than this is wrapped anywhere instead, which costs time proportional to the line.
constexpr qsizetype LongRun = 1024;

bool hasLongRun(const QString &text) {
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > LongRun)
            return true;
    }
    return false;
}
} // namespace

OutputViewLayouts::OutputViewLayouts(const LineStore &store, const std::vector<qsizetype> &mentions)
    : m_store(store), m_mentions(mentions) {}

OutputViewLayouts::~OutputViewLayouts() = default;

void OutputViewLayouts::setFont(const QFont &font) {
    if (font == m_font)
        return;
    m_font = font;
    clear();
}

void OutputViewLayouts::setPaintDevice(QPaintDevice *device) {
    if (device == m_device)
        return;
    m_device = device;
    clear();
}

void OutputViewLayouts::setWrap(bool wrap) {
    if (wrap == m_wrap)
        return;
    m_wrap = wrap;
    clear();
}

void OutputViewLayouts::setWidth(qreal width) {
    width = std::max<qreal>(width, 1);
    if (width == m_width)
        return;
    m_width = width;
    if (m_wrap)
        clear();
}

void OutputViewLayouts::setColours(const QColor &text, const QColor &base, const QColor &link) {
    if (text == m_text && base == m_base && link == m_link)
        return;
    m_text = text;
    m_base = base;
    m_link = link;
    clear();
}

void OutputViewLayouts::clear() {
    m_cache.clear();
    m_widest = 0;
}

OutputViewLayouts::Entry &OutputViewLayouts::entry(qsizetype line) {
    Entry &e = m_cache[line];
    e.used = ++m_clock;
    if (e.layout)
        return e;
    const IrcFormat::Line drawn = IrcFormat::parse(m_store.line(line));
    const QString &text = drawn.text;
    e.links = IrcFormat::links(text);
    e.layout = std::make_unique<QTextLayout>(text, m_font, m_device);
    e.layout->setFormats(formats(line, drawn, e.links));
    QTextOption option;
    option.setWrapMode(!m_wrap            ? QTextOption::NoWrap
                       : hasLongRun(text) ? QTextOption::WrapAnywhere
                                          : QTextOption::WrapAtWordBoundaryOrAnywhere);
    e.layout->setTextOption(option);
    e.layout->setCacheEnabled(true);
    e.layout->beginLayout();
    qreal y = 0;
    for (QTextLine row = e.layout->createLine(); row.isValid(); row = e.layout->createLine()) {
        row.setLineWidth(m_width); // without wrapping the row simply runs past it
        row.setPosition(QPointF(0, y));
        y += row.height();
        m_widest = std::max(m_widest, row.naturalTextWidth());
    }
    e.layout->endLayout();
    if (e.layout->lineCount() == 0) // cannot happen for a QTextLayout, but keep rows >= 1
        y = QFontMetricsF(m_font, m_device).lineSpacing();
    e.height = y;
    return e;
}

// The styles of a line: the mention background under everything, then the formatting runs,
// then the links.
QList<QTextLayout::FormatRange>
OutputViewLayouts::formats(qsizetype line, const IrcFormat::Line &drawn,
                           const std::vector<IrcFormat::Link> &links) const {
    QList<QTextLayout::FormatRange> ranges;
    if (std::binary_search(m_mentions.begin(), m_mentions.end(), line)) {
        QTextLayout::FormatRange range;
        range.start = 0;
        range.length = int(drawn.text.size());
        range.format.setBackground(QColor(0xff, 0xf0, 0xa0));
        range.format.setFontWeight(QFont::Bold);
        ranges.append(range);
    }
    for (const IrcFormat::Run &run : drawn.runs) {
        const IrcFormat::Style &style = run.style;
        QTextLayout::FormatRange range;
        range.start = int(run.start);
        range.length = int(run.length);
        QTextCharFormat &f = range.format;
        if (style.bold)
            f.setFontWeight(QFont::Bold);
        f.setFontItalic(style.italic);
        f.setFontUnderline(style.underline);
        f.setFontStrikeOut(style.strike);
        f.setFontFixedPitch(style.mono);
        QColor fg = style.fg;
        QColor bg = style.bg;
        if (style.reverse) {
            fg = style.bg.isValid() ? style.bg : m_base;
            bg = style.fg.isValid() ? style.fg : m_text;
        }
        if (fg.isValid())
            f.setForeground(fg);
        if (bg.isValid())
            f.setBackground(bg);
        ranges.append(range);
    }
    for (const IrcFormat::Link &link : links) {
        QTextLayout::FormatRange range;
        range.start = int(link.start);
        range.length = int(link.length);
        range.format.setFontUnderline(true);
        range.format.setForeground(m_link);
        ranges.append(range);
    }
    return ranges;
}

const QTextLayout &OutputViewLayouts::layout(qsizetype line) {
    return *entry(line).layout;
}

qreal OutputViewLayouts::height(qsizetype line) {
    return entry(line).height;
}

void OutputViewLayouts::trim() {
    if (m_cache.size() <= CacheLimit)
        return;
    std::vector<quint64> stamps;
    stamps.reserve(m_cache.size());
    for (const auto &item : m_cache)
        stamps.push_back(item.second.used);
    const size_t keep = CacheLimit / 2;
    std::nth_element(stamps.begin(), stamps.end() - static_cast<std::ptrdiff_t>(keep),
                     stamps.end());
    const quint64 oldestKept = *(stamps.end() - static_cast<std::ptrdiff_t>(keep));
    for (auto it = m_cache.begin(); it != m_cache.end();)
        it = it->second.used < oldestKept ? m_cache.erase(it) : std::next(it);
}
