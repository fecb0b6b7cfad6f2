#pragma once

#include <QString>
#include <QStringList>

// A text split into items at every occurrence of a delimiter: nothing is trimmed, a leading or
// trailing delimiter gives an empty first or last item, and two delimiters in a row enclose an
// empty item. Items are numbered from 1. Reading Text joins the current items again.
class TokenList {
public:
    void SetDelimiter(const QString &delimiter) { m_delimiter = delimiter; }
    // Quoting is not supported; an empty quote setting (the only one used) means none.
    void SetQuotes(const QString &open, const QString &close) {
        m_openQuote = open;
        m_closeQuote = close;
    }

    void SetText(const QString &text);
    QString Text() const { return m_items.join(m_delimiter); }

    qint32 Count() const { return static_cast<qint32>(m_items.size()); }
    // Item i (1-based); an empty text outside 1..Count.
    QString Item(qint32 i) const;
    void SetItem(qint32 i, const QString &value);
    void Remove(qint32 i);

private:
    QString m_delimiter = QStringLiteral(" ");
    QString m_openQuote;
    QString m_closeQuote;
    QStringList m_items;
};
