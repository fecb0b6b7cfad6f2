#pragma once

#include "text/IrcFormat.h"
#include "text/IrcLinks.h"

#include <QColor>
#include <QFont>
#include <QTextLayout>
#include <memory>
#include <unordered_map>
#include <vector>

class LineStore;
class QPaintDevice;

// Laid-out lines of an output box, made on demand and kept only for lines recently shown, so
// that the cost of layout follows what is on screen and never what is stored. Each line is laid
// out on its own from its drawn text (control characters made visible, formatting codes read
// into styles and hidden, links marked), wrapped at the width when wrapping is on.
class OutputViewLayouts {
public:
    // mentions: the sorted indexes of the lines drawn as naming the user.
    OutputViewLayouts(const LineStore &store, const std::vector<qsizetype> &mentions);
    ~OutputViewLayouts();

    void setFont(const QFont &font);
    void setPaintDevice(QPaintDevice *device);
    void setWrap(bool wrap);
    void setWidth(qreal width); // matters only while wrapping
    // The box's text and background colours (reverse video swaps them) and the link colour.
    void setColours(const QColor &text, const QColor &base, const QColor &link);
    void clear();

    // The laid-out line; stays valid until the next trim(), clear() or setting change.
    const QTextLayout &layout(qsizetype line);
    int rows(qsizetype line) { return layout(line).lineCount(); }
    qreal height(qsizetype line);
    const std::vector<IrcFormat::Link> &links(qsizetype line) { return entry(line).links; }
    // Widest unwrapped line laid out since the last clear.
    qreal widest() const { return m_widest; }

    // Forgets the lines not used lately once many are cached.
    void trim();

private:
    struct Entry {
        std::unique_ptr<QTextLayout> layout;
        std::vector<IrcFormat::Link> links;
        qreal height = 0;
        quint64 used = 0;
    };
    Entry &entry(qsizetype line);
    QList<QTextLayout::FormatRange> formats(qsizetype line, const IrcFormat::Line &drawn,
                                            const std::vector<IrcFormat::Link> &links) const;

    const LineStore &m_store;
    const std::vector<qsizetype> &m_mentions;
    QColor m_text = Qt::black;
    QColor m_base = Qt::white;
    QColor m_link = Qt::blue;
    QFont m_font;
    QPaintDevice *m_device = nullptr;
    bool m_wrap = true;
    qreal m_width = 100;
    qreal m_widest = 0;
    quint64 m_clock = 0;
    std::unordered_map<qsizetype, Entry> m_cache;
};
