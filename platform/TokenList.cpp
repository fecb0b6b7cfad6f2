#include "platform/TokenList.h"

#include "platform/VelloqError.h"

void TokenList::SetText(const QString &text, qsizetype from, qsizetype length) {
    m_text = text;
    m_items.clear();
    m_replacements.clear();
    // An empty text holds no item at all.
    if (length <= 0)
        return;
    const qsizetype step = m_delimiter.size();
    if (step == 0) {
        m_items.append({from, length, -1});
        return;
    }
    const QStringView range = QStringView(text).mid(from, length);
    qsizetype start = 0;
    for (;;) {
        const qsizetype at = step == 1 ? range.indexOf(m_delimiter.front(), start)
                                       : range.indexOf(m_delimiter, start);
        if (at < 0) {
            m_items.append({from + start, length - start, -1});
            break;
        }
        m_items.append({from + start, at - start, -1});
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

bool TokenList::ItemRange(qint32 i, qsizetype &from, qsizetype &length) const {
    if (i < 1 || i > Count() || m_items.at(i - 1).replaced >= 0)
        return false;
    from = m_items.at(i - 1).start;
    length = m_items.at(i - 1).length;
    return true;
}

QStringView TokenList::TextView(QString &storage) const {
    if (m_items.isEmpty())
        return {};
    // Items that still stand side by side in the original text: one slice of it.
    bool contiguous = true;
    for (qsizetype k = 0; k < m_items.size() && contiguous; ++k) {
        contiguous = m_items[k].replaced < 0 &&
                     (k == 0 || m_items[k].start == m_items[k - 1].start + m_items[k - 1].length +
                                                        m_delimiter.size());
    }
    if (contiguous) {
        const Span &last = m_items.back();
        return QStringView(m_text).mid(m_items.front().start,
                                       last.start + last.length - m_items.front().start);
    }
    storage.clear();
    for (qsizetype k = 0; k < m_items.size(); ++k) {
        if (k > 0)
            storage += m_delimiter;
        storage += view(m_items[k]);
    }
    return storage;
}

QString TokenList::Text() const {
    QString storage;
    const QStringView text = TextView(storage);
    // A slice of the whole shared text is the text itself: no copy.
    if (text.size() == m_text.size() && !m_text.isEmpty() && text.data() == m_text.constData())
        return m_text;
    return text.data() == storage.constData() ? storage : text.toString();
}

static void checkPosition(qint32 i, qint32 count) {
    if (i < 1 || i > count)
        throw VelloqError(
            VelloqError::SubscriptOutOfRange,
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
