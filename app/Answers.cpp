#include "app/Answers.h"

#include "app/modMain.h"
#include "channel/Channels.h"
#include "connection/MessageLine.h"

namespace {
// A numeric reply's number; -1 for any other command.
int numeric(QStringView command) {
    if (command.size() != 3)
        return -1;
    int number = 0;
    for (QChar c : command) {
        if (c < u'0' || c > u'9')
            return -1;
        number = number * 10 + (c.unicode() - u'0');
    }
    return number;
}

// The welcome and server information, user counts and the message of the day: what every
// connection brings, asked for or not.
bool chatter(int number) {
    return number < 100 || (number >= 250 && number <= 266) || number == 372 || number == 375 ||
           number == 376;
}
} // namespace

bool Answers::IsAnswer(const MessageLine &line, QStringView nick, bool asked) {
    if (!line.Valid())
        return false;
    const QStringView command = line.Command();
    if (command == u"PRIVMSG" || command == u"NOTICE")
        return line.ParamCount() == 2 && !nick.isEmpty() && Channels::SameName(line.Param(0), nick);
    const int number = numeric(command);
    if (number >= 400 && number <= 599)
        return true;
    return asked && number >= 0 && !chatter(number);
}

QString Answers::Spoken(const MessageLine &line) {
    const QStringView command = line.Command();
    const bool notice = command == u"NOTICE";
    if (notice || command == u"PRIVMSG") {
        QString said = notice ? QStringLiteral("-") : QStringLiteral("<");
        return said.append(modMain::NickFromPrefix(line.Prefix()))
            .append(notice ? QLatin1String("- ") : QLatin1String("> "))
            .append(line.Param(1));
    }
    QString said;
    for (int i = line.ParamCount() > 1 ? 1 : 0; i < line.ParamCount(); ++i)
        said.append(i > 1 ? QStringLiteral(" ") : QString()).append(line.Param(i));
    return said;
}
