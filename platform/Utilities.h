#pragma once

#include "platform/StringArray.h"

#include <QIcon>
#include <QString>

class QWidget;

// The shared helper component: object keys, word splitting and joining, array tests, the
// line-end operation and the About box.
namespace Utilities {

// A text that no other object of this run has obtained.
QString NewInstanceKey();

// Splits text into words at runs of the delimiter. A run enclosed in the quote characters is
// part of one word, quotes and inner delimiters kept as typed; a quote without its closing
// partner is an ordinary character. Index 0 holds the first word.
StringArray SplitQuoted(const QString &text, QChar delimiter, QChar openQuote, QChar closeQuote);

// Mode 0 (after splitting) drops empty words; mode 1 (before joining) keeps the words as they
// are, so that what the user typed reaches the wire unchanged.
StringArray NormalizeWords(const StringArray &words, int mode);

// Joins words with the delimiter. A word holding the delimiter that is not already enclosed in
// quotes is quoted, so that splitting the result again gives the same words.
QString JoinQuoted(const StringArray &words, QChar delimiter, QChar openQuote, QChar closeQuote);

// Highest index of the array; emptyValue when it holds no element.
qint32 UpperIndex(const StringArray &words, qint32 emptyValue);

bool IsEmptyArray(const StringArray &words);

// text followed by suffix.
QString AddSuffix(const QString &text, const QString &suffix);

// Shows the About box (modal) with a title, an icon, a subtitle and four lines of text.
void ShowAbout(const QString &title, const QIcon &icon, const QString &subtitle,
               const QStringList &lines, QWidget *parent = nullptr);

} // namespace Utilities
