#include "platform/Utilities.h"

#include "platform/AboutBox.h"

namespace Utilities {

QString NewInstanceKey() {
    static quint64 counter = 0;
    return QStringLiteral("K%1").arg(++counter);
}

StringArray SplitQuoted(const QString &text, QChar delimiter, QChar openQuote, QChar closeQuote) {
    QStringList words;
    QString word;
    bool inWord = false;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == delimiter) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == openQuote) {
            const qsizetype close = text.indexOf(closeQuote, i + 1);
            if (close > i) {
                word += QStringView(text).mid(i, close - i + 1);
                i = close;
                continue;
            }
        }
        word += c;
    }
    if (inWord)
        words.append(word);
    return StringArray(words, 0);
}

StringArray NormalizeWords(const StringArray &words, int mode) {
    if (mode != 0)
        return words;
    StringArray out;
    out.LowerBound = words.LowerBound;
    for (const QString &w : words.Items)
        if (!w.isEmpty())
            out.Items.append(w);
    return out;
}

static bool isEnclosed(const QString &word, QChar openQuote, QChar closeQuote) {
    return word.size() >= 2 && word.front() == openQuote && word.back() == closeQuote;
}

QString JoinQuoted(const StringArray &words, QChar delimiter, QChar openQuote, QChar closeQuote) {
    QString out;
    for (qint32 i = 0; i < words.Count(); ++i) {
        if (i > 0)
            out += delimiter;
        const QString &w = words.Items.at(i);
        if (w.contains(delimiter) && !w.contains(openQuote) &&
            !isEnclosed(w, openQuote, closeQuote))
            out += openQuote + w + closeQuote;
        else
            out += w;
    }
    return out;
}

qint32 UpperIndex(const StringArray &words, qint32 emptyValue) {
    return words.Count() == 0 ? emptyValue : words.UpperBound();
}

bool IsEmptyArray(const StringArray &words) {
    return words.Count() == 0;
}

QString AddSuffix(const QString &text, const QString &suffix) {
    return text + suffix;
}

void ShowAbout(const QString &title, const QIcon &icon, const QString &subtitle,
               const QStringList &lines, QWidget *parent) {
    AboutBox box(title, icon, subtitle, lines, parent);
    box.exec();
}

} // namespace Utilities
