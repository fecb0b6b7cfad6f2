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

OutputViewLayouts::OutputViewLayouts(const LineStore &store) : m_store(store) {}

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

void OutputViewLayouts::clear() {
    m_cache.clear();
    m_widest = 0;
}

OutputViewLayouts::Entry &OutputViewLayouts::entry(qsizetype line) {
    Entry &e = m_cache[line];
    e.used = ++m_clock;
    if (e.layout)
        return e;
    const QString text = OutputView::displayText(m_store.line(line));
    e.layout = std::make_unique<QTextLayout>(text, m_font, m_device);
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
