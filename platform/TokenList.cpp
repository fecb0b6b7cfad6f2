#include "platform/TokenList.h"

#include "platform/VelloqError.h"

void TokenList::SetText(const QString &text) {
    // An empty text holds no item at all.
    if (text.isEmpty() || m_delimiter.isEmpty()) {
        m_items = text.isEmpty() ? QStringList() : QStringList{text};
        return;
    }
    m_items = text.split(m_delimiter, Qt::KeepEmptyParts);
}

QString TokenList::Item(qint32 i) const {
    if (i < 1 || i > Count())
        return QString();
    return m_items.at(i - 1);
}

static void checkPosition(qint32 i, qint32 count) {
    if (i < 1 || i > count)
        throw VelloqError(VelloqError::SubscriptOutOfRange,
                          QStringLiteral("Subscript out of range: item %1 of %2").arg(i).arg(count));
}

void TokenList::SetItem(qint32 i, const QString &value) {
    checkPosition(i, Count());
    m_items[i - 1] = value;
}

void TokenList::Remove(qint32 i) {
    checkPosition(i, Count());
    m_items.removeAt(i - 1);
}
