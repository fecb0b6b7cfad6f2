#pragma once

#include <QString>
#include <QStringView>

class MessageLine;

// Which of the lines that land in the status window answer the user, so that a screen reader
// says them even while another window is active, and how they are said: error replies, replies
// that follow a command the user sent to the server, and messages and notices to us. Ordinary
// chatter (the welcome, the message of the day, other users coming and going) is left to be read.
namespace Answers {
// How long after a command sent by the user the server's replies count as its answer.
constexpr qint64 AskedMs = 5000;

// line: a received line no other rule took; nick: ours; asked: whether the user sent a command
// to the server less than AskedMs ago.
bool IsAnswer(const MessageLine &line, QStringView nick, bool asked);
// What is said for it: "<bob> text" for a message, "-bob- text" for a notice, a reply's
// parameters after our nick ("bob Nickname is already in use").
QString Spoken(const MessageLine &line);
} // namespace Answers
