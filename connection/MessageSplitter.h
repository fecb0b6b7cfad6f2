#pragma once

#include <QString>
#include <QStringList>

// Servers cut a protocol line at 512 bytes (CR LF and the prefix they add included) and drop
// the rest. A long message text is therefore sent as several lines: each part at most
// MaxTextBytes of UTF-8, cut between characters, preferably after a blank near the limit.
// Joined again, the parts give back the text exactly.
namespace MessageSplitter {
constexpr int MaxTextBytes = 400;
// What a server's line limit leaves for the text after "VERB target :", with room for the
// prefix the server puts in front when it relays the line.
int TextBudget(const QString &verb, const QString &target);
QStringList Split(const QString &text, int maxBytes = MaxTextBytes);
} // namespace MessageSplitter
