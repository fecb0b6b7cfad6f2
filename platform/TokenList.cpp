#include "platform/TokenList.h"

#include "platform/VelloqError.h"

void TokenList::SetText(const QString &text) {
    m_text = text;
    m_items.clear();
    m_replacements.clear();
    // An empty text holds no item at all.
    if (text.isEmpty())
        return;
    const qsizetype step = m_delimiter.size();
    if (step == 0) {
        m_items.append({0, text.size(), -1});
        return;
    }
    qsizetype start = 0;
    const bool single = step == 1;
    const QChar delimiter = m_delimiter.front();
    for (;;) {
        const qsizetype at =
            single ? text.indexOf(delimiter, start) : text.indexOf(m_delimiter, start);
        if (at < 0) {
            m_items.append({start, text.size() - start, -1});
            return;
        }
        m_items.append({start, at - start, -1});
        start = at + step;
    }
}

QStringView TokenList::view(const Span &span) const {
    if (span.replaced >= 0)
        return m_replacements.at(span.replaced);
    return QStringView(m_text).mid(span.start, span.length);
}

QStringView TokenList::ItemView(qint32 i) const {
    if (i < 1 || i > Count())
        return {};
    return view(m_items.at(i - 1));
}

QString TokenList::Text() const {
    if (m_items.isEmpty())
        return QString();
    // Items that still stand side by side in the original text: one slice of it.
    bool contiguous = true;
    for (qsizetype k = 0; k < m_items.size() && contiguous; ++k) {
        contiguous = m_items[k].replaced < 0 &&
                     (k == 0 || m_items[k].start == m_items[k - 1].start + m_items[k - 1].length +
                                                        m_delimiter.size());
    }
    if (contiguous) {
        const Span &last = m_items.back();
        return m_text.mid(m_items.front().start, last.start + last.length - m_items.front().start);
    }
    QString joined;
    for (qsizetype k = 0; k < m_items.size(); ++k) {
        if (k > 0)
            joined += m_delimiter;
        joined += view(m_items[k]);
    }
    return joined;
}

static void checkPosition(qint32 i, qint32 count) {
    if (i < 1 || i > count)
        throw VelloqError(VelloqError::SubscriptOutOfRange,
                          QStringLiteral("Subscript out of range: item %1 of %2").arg(i).arg(count));
}

void TokenList::SetItem(qint32 i, const QString &value) {
    checkPosition(i, Count());
    m_replacements.append(value);
    m_items[i - 1].replaced = static_cast<qint32>(m_replacements.size() - 1);
}

void TokenList::Remove(qint32 i) {
    checkPosition(i, Count());
    m_items.remove(i - 1);
}
