#pragma once

#include <QFont>
#include <QTextLayout>
#include <memory>
#include <unordered_map>

class LineStore;
class QPaintDevice;

// Laid-out lines of an output box, made on demand and kept only for lines recently shown, so
// that the cost of layout follows what is on screen and never what is stored. Each line is laid
// out on its own from its display text (control characters made visible), wrapped at the width
// when wrapping is on.
class OutputViewLayouts {
public:
    explicit OutputViewLayouts(const LineStore &store);
    ~OutputViewLayouts();

    void setFont(const QFont &font);
    void setPaintDevice(QPaintDevice *device);
    void setWrap(bool wrap);
    void setWidth(qreal width); // matters only while wrapping
    void clear();

    // The laid-out line; stays valid until the next trim(), clear() or setting change.
    const QTextLayout &layout(qsizetype line);
    int rows(qsizetype line) { return layout(line).lineCount(); }
    qreal height(qsizetype line);
    // Widest unwrapped line laid out since the last clear.
    qreal widest() const { return m_widest; }

    // Forgets the lines not used lately once many are cached.
    void trim();

private:
    struct Entry {
        std::unique_ptr<QTextLayout> layout;
        qreal height = 0;
        quint64 used = 0;
    };
    Entry &entry(qsizetype line);

    const LineStore &m_store;
    QFont m_font;
    QPaintDevice *m_device = nullptr;
    bool m_wrap = true;
    qreal m_width = 100;
    qreal m_widest = 0;
    quint64 m_clock = 0;
    std::unordered_map<qsizetype, Entry> m_cache;
};
