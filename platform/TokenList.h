#pragma once

#include <QString>
#include <QStringView>
#include <QVarLengthArray>

// A text split into items at every occurrence of a delimiter: nothing is trimmed, a leading or
// trailing delimiter gives an empty first or last item, and two delimiters in a row enclose an
// empty item. Items are numbered from 1. Reading Text joins the current items again.
//
// Splitting copies nothing: items are kept as ranges of the text until one is replaced, and
// the joined text of items that still stand side by side in the original is a slice of it.
class TokenList {
public:
    void SetDelimiter(const QString &delimiter) { m_delimiter = delimiter; }
    // Quoting is not supported; an empty quote setting (the only one used) means none.
    void SetQuotes(const QString &open, const QString &close) {
        m_openQuote = open;
        m_closeQuote = close;
    }

    void SetText(const QString &text) { SetText(text, 0, text.size()); }
    // Splits the given range of text; the list shares text's characters instead of copying them.
    void SetText(const QString &text, qsizetype from, qsizetype length);
    QString Text() const;
    // What Text() returns, as a view: into the shared text when the items still stand side by
    // side there, otherwise into storage, which receives the joined text.
    QStringView TextView(QString &storage) const;
    // The shared text and where item i lies in it, for splitting an item further without a copy.
    const QString &SourceText() const { return m_text; }
    bool ItemRange(qint32 i, qsizetype &from, qsizetype &length) const;

    qint32 Count() const { return static_cast<qint32>(m_items.size()); }
    // Item i (1-based); an empty text outside 1..Count.
    QString Item(qint32 i) const { return ItemView(i).toString(); }
    // Item i without a copy; valid while the list and its text are unchanged.
    QStringView ItemView(qint32 i) const;
    void SetItem(qint32 i, const QString &value);
    void Remove(qint32 i);

private:
    struct Span {
        qsizetype start = 0;
        qsizetype length = 0;
        qint32 replaced = -1; // index into m_replacements, or -1 for a range of m_text
    };
    QStringView view(const Span &span) const;

    QString m_delimiter = QStringLiteral(" ");
    QString m_openQuote;
    QString m_closeQuote;
    QString m_text;
    QVarLengthArray<Span, 16> m_items;
    QVarLengthArray<QString, 2> m_replacements;
};
