#include "app/CommandInterpreter.h"

#include "app/Application.h"
#include "app/modMain.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "connection/MessageSplitter.h"
#include "platform/Utilities.h"
#include "windows/Childs.h"

#include <QRegularExpression>

namespace {
const QChar QuoteChar(u'"');
const QChar Blank(u' ');
} // namespace

const CommandInterpreter::Entry CommandInterpreter::Commands[] = {
    {"AWAY", &CommandInterpreter::Away, "/AWAY [text]", "mark yourself away (no text: back)"},
    {"CLEAR", &CommandInterpreter::Clear, "/CLEAR", "empty this window's output"},
    {"CLOSE", &CommandInterpreter::Close, "/CLOSE", "close this window"},
    {"DISCONNECT", &CommandInterpreter::Disconnect, "/DISCONNECT", "close the connection"},
    {"ECHO", &CommandInterpreter::Echo, "/ECHO [window [text]]",
     "write text into a window (0: this one)"},
    {"EXIT", &CommandInterpreter::Exit, "/EXIT", "part every channel and end Velloq"},
    {"FLUSHQ", &CommandInterpreter::FlushQ, "/FLUSHQ", "drop every line still waiting to be sent"},
    {"HELP", &CommandInterpreter::Help, "/HELP [command]", "list the commands"},
    {"INVITE", &CommandInterpreter::Invite, "/INVITE nick [#channel]",
     "invite someone to a channel (this window's without a name)"},
    {"JOIN", &CommandInterpreter::Join, "/JOIN #channel[,#channel...] [keys]", "join channels"},
    {"KICK", &CommandInterpreter::Kick, "/KICK nick [reason]",
     "remove someone from this window's channel"},
    {"ME", &CommandInterpreter::Me, "/ME text", "send an action to this window's channel"},
    {"MODE", &CommandInterpreter::Mode, "/MODE target [modes [arguments]]",
     "show or change the modes of a channel or nick"},
    {"MSG", &CommandInterpreter::Msg, "/MSG target [text]", "send a message to a channel or nick"},
    {"NAMES", &CommandInterpreter::Names, "/NAMES [#channel]",
     "list who is in a channel (this window's without a name)"},
    {"NICK", &CommandInterpreter::Nick, "/NICK name", "change your nick"},
    {"NOTICE", &CommandInterpreter::Notice, "/NOTICE target [text]",
     "send a notice to a channel or nick"},
    {"PART", &CommandInterpreter::Part, "/PART [#channel] [reason]",
     "leave a channel (this window's without a name)"},
    {"QUIT", &CommandInterpreter::Quit, "/QUIT [reason]", "end the session with the server"},
    {"QUOTE", &CommandInterpreter::Quote, "/QUOTE line", "send a raw protocol line"},
    {"SERVER", &CommandInterpreter::Server, "/SERVER host [port]",
     "connect to a server (port +6697: TLS)"},
    {"TOPIC", &CommandInterpreter::Topic, "/TOPIC [#channel] [text]",
     "show or set a channel's topic (this window's without a name)"},
    {"WHOIS", &CommandInterpreter::Whois, "/WHOIS nick", "ask who someone is"},
    {"WINDOW", &CommandInterpreter::Window, "/WINDOW NEW | CLOSE [n]",
     "open a window, or close one"},
};

bool CommandInterpreter::read(const QString &Command, bool User, qint32 WindowIndex) {
    m_line = Command;
    m_user = User;
    m_window = WindowIndex;
    m_words =
        Utilities::NormalizeWords(Utilities::SplitQuoted(Command, Blank, QuoteChar, QuoteChar), 0);
    m_ub = Utilities::UpperIndex(m_words, -1);
    return m_ub >= 0;
}

const CommandInterpreter::Entry *CommandInterpreter::entry(const QString &keyword) const {
    for (const Entry &entry : Commands)
        if (keyword.compare(QLatin1String(entry.keyword), Qt::CaseInsensitive) == 0)
            return &entry;
    return nullptr;
}

bool CommandInterpreter::Process(const QString &Command, bool User, qint32 WindowIndex) {
    if (!read(Command, User, WindowIndex)) {
        echo(m_window, QStringLiteral("Empty command given. [") + m_line + QLatin1Char(']'));
        return false;
    }
    m_entry = entry(m_words[0]);
    return m_entry ? (this->*m_entry->handler)() : rejected();
}

// The whole paste goes to the connection at once, and waits there for its turn line by line,
// so that leaving the channel drops what has not gone. A default command that sends nothing
// (ECHO) runs once per line; a window without one sends nothing.
void CommandInterpreter::Paste(const QString &Text, qint32 WindowIndex) {
    const std::shared_ptr<Child> window = m_app.Childs()->Item(WindowIndex);
    const QString command = window->DefaultCommand();
    if (!read(command, true, WindowIndex)) {
        echo(m_window, QStringLiteral("Pasted lines not sent: this window sends no text"));
        return;
    }
    m_entry = entry(m_words[0]);
    const bool message = m_entry && m_entry->handler == &CommandInterpreter::Msg && m_ub == 1;
    if (message || (m_entry && m_entry->handler == &CommandInterpreter::Quote && m_ub == 0)) {
        IRCConnection &conn = connection();
        const std::shared_ptr<Channel> channel =
            message ? conn.Channels()->Item(m_words[1]) : nullptr;
        if (!conn.Connected())
            echo(message ? m_window : 1,
                 QLatin1String(m_entry->keyword) + QStringLiteral(": not connected"));
        else if (channel && !channel->Joined())
            notJoined(*channel);
        else if (message)
            conn.SendLines(QStringLiteral("PRIVMSG"), m_words[1], Text, window->InstanceKey());
        else
            conn.SendLines(QString(), QString(), Text, window->InstanceKey());
        return;
    }
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]"));
    for (const QString &line : Text.split(lineBreak, Qt::SkipEmptyParts)) {
        if (!window->Parent())
            return;
        window->EchoEntered(line);
        Process(command + QLatin1Char(' ') + line, true, WindowIndex);
    }
}

bool CommandInterpreter::ReadNumber(const QString &word, qint32 &value) {
    if (word.isEmpty())
        return false;
    qsizetype i = (word.front() == u'+' || word.front() == u'-') ? 1 : 0;
    if (i == word.size())
        return false;
    for (qsizetype k = i; k < word.size(); ++k)
        if (word.at(k) < u'0' || word.at(k) > u'9')
            return false;
    bool ok = false;
    const qint64 wide = word.toLongLong(&ok, 10);
    if (!ok || wide < std::numeric_limits<qint32>::min() ||
        wide > std::numeric_limits<qint32>::max())
        return false;
    value = static_cast<qint32>(wide);
    return true;
}

bool CommandInterpreter::ReadPort(const QString &word, quint16 &port, bool &tls) {
    const bool secure = word.startsWith(u'+');
    const QString number = secure ? word.mid(1) : word;
    // After the "+" only digits: "++6697" and "+-1" are no ports.
    if (secure && (number.isEmpty() || number.front() < u'0' || number.front() > u'9'))
        return false;
    qint32 value = 0;
    if (!ReadNumber(number, value) || value < 1 || value > 65535)
        return false;
    port = static_cast<quint16>(value);
    tls = secure;
    return true;
}

bool CommandInterpreter::ReadPort(const QString &word, quint16 &port) {
    bool tls = false;
    quint16 value = 0;
    if (!ReadPort(word, value, tls) || tls)
        return false;
    port = value;
    return true;
}

void CommandInterpreter::echo(qint32 window, const QString &text) const {
    m_app.Echo(window, text);
}

void CommandInterpreter::answer(const QString &text) const {
    m_app.EchoAnswer(text);
}

IRCConnection &CommandInterpreter::connection() const {
    return *m_app.Connections()->Item(1);
}

QString CommandInterpreter::argumentText(qint32 start, qint32 count, bool normalize) const {
    StringArray run = modMain::SliceArray(m_words, start, count);
    if (normalize)
        run = Utilities::NormalizeWords(run, 1);
    return Utilities::JoinQuoted(run, Blank, QuoteChar, QuoteChar);
}

bool CommandInterpreter::rejected() const {
    echo(m_window, QStringLiteral("Unknown command: \"") + m_words[0] + QStringLiteral("\" [") +
                       m_line + QLatin1Char(']'));
    return false;
}

bool CommandInterpreter::Disconnect() {
    if (m_ub != 0)
        return rejected();
    if (connection().Connected())
        connection().Disconnect();
    else
        answer(QStringLiteral("DISCONNECT: not connected"));
    return true;
}

bool CommandInterpreter::Echo() {
    qint32 target = m_window;
    QString text;
    if (m_ub >= 1) {
        qint32 n = 0;
        if (ReadNumber(m_words[1], n)) {
            const qint32 count = m_app.Childs()->Count();
            if (n != 0 && n >= 1 && n <= count)
                target = n;
            else if (n != 0)
                target = m_user ? m_window : 1;
            else
                target = (m_user && m_window >= 1 && m_window <= count) ? m_window : 0;
        }
        text = argumentText(2, m_ub - 1, true);
    } else {
        text = argumentText(1, 0, false);
    }
    echo(target, text);
    return true;
}

bool CommandInterpreter::Exit() {
    return m_app.ExitClient();
}

bool CommandInterpreter::FlushQ() {
    if (m_ub != 0)
        return usage();
    if (connection().FlushWaiting() == 0)
        report(QStringLiteral("nothing waiting"));
    return true;
}

bool CommandInterpreter::report(const QString &text) const {
    echo(m_window, QLatin1String(m_entry->keyword) + QStringLiteral(": ") + text);
    return true;
}

bool CommandInterpreter::usage() const {
    report(QStringLiteral("usage: ") + QLatin1String(m_entry->syntax));
    return false;
}

bool CommandInterpreter::notJoined(const Channel &channel) const {
    return report(QStringLiteral("not joined to ") + channel.Name() +
                  QStringLiteral(" (type /join ") + channel.Name() + QLatin1Char(')'));
}

std::shared_ptr<Channel> CommandInterpreter::windowChannel() const {
    for (const auto &channel : connection().Channels()->NewEnum())
        if (channel->Window() && channel->Window()->Index() == m_window)
            return channel;
    return nullptr;
}

bool CommandInterpreter::sendToTarget(const QString &echoPrefix, const QString &protocolVerb) {
    if (m_ub < 1)
        return rejected();
    const QString target = m_words[1];
    const QString text = argumentText(2, m_ub - 1, true);
    IRCConnection &conn = connection();
    if (!conn.Connected())
        return report(QStringLiteral("not connected"));
    const std::shared_ptr<Channel> channel = conn.Channels()->Item(target);
    // A channel we were kicked from, or that is not joined again yet, gets nothing.
    if (channel && !channel->Joined())
        return notJoined(*channel);
    // A line typed in the target's own channel window already shows there.
    const qint32 channelWindow = channel && channel->Window() ? channel->Window()->Index()
                                                              : std::numeric_limits<qint32>::min();
    if (channelWindow != m_window)
        echo(m_window, echoPrefix + target + QStringLiteral(": ") + text);
    // A text longer than a server takes in one line goes as several lines; the echo above
    // shows it whole.
    const int budget = MessageSplitter::TextBudget(protocolVerb, target);
    for (const QString &part : MessageSplitter::Split(text, budget))
        conn.SendMessage(protocolVerb + QLatin1Char(' ') + target + QStringLiteral(" :") + part);
    return true;
}

bool CommandInterpreter::Msg() {
    return sendToTarget(QStringLiteral("-> "), QStringLiteral("PRIVMSG"));
}

bool CommandInterpreter::Notice() {
    return sendToTarget(QStringLiteral("notice -> "), QStringLiteral("NOTICE"));
}

bool CommandInterpreter::Help() {
    const QString wanted = m_ub >= 1 ? m_words[1].toUpper().remove(QLatin1Char('/')) : QString();
    bool found = false;
    for (const Entry &entry : Commands) {
        if (!wanted.isEmpty() && wanted != QLatin1String(entry.keyword))
            continue;
        echo(m_window,
             QLatin1String(entry.syntax) + QStringLiteral(" - ") + QLatin1String(entry.purpose));
        found = true;
    }
    return found || report(QStringLiteral("no command ") + m_words[1]);
}

// The arguments go out as typed; the window that comes for a channel named here may take the
// focus (Channels::NoteJoinRequest).
bool CommandInterpreter::Join() {
    if (m_ub < 1 || m_ub > 2)
        return usage();
    IRCConnection &conn = connection();
    if (!conn.Connected())
        return report(QStringLiteral("not connected"));
    const qint32 count = m_app.Childs()->Count();
    conn.Channels()->NoteJoinRequest(
        m_words[1], m_window >= 1 && m_window <= count ? m_app.Childs()->Item(m_window) : nullptr);
    conn.SendMessage(QStringLiteral("JOIN ") + argumentText(1, m_ub, false));
    // A channel we are in already gets no answer from the server: its window comes forward now.
    const std::shared_ptr<Channel> first =
        conn.Channels()->Item(m_words[1].section(QLatin1Char(','), 0, 0));
    if (first && first->Joined() && first->Window())
        first->Window()->Activate();
    return true;
}

bool CommandInterpreter::Nick() {
    return m_ub != 1 ? usage() : sendCommand(QStringLiteral("NICK ") + m_words[1]);
}

bool CommandInterpreter::channelArgument(QString &channel, qint32 &rest) const {
    static const QString ChannelPrefixes = QStringLiteral("#&+!");
    if (m_ub >= rest && !m_words[rest].isEmpty() &&
        ChannelPrefixes.contains(m_words[rest].front())) {
        channel = m_words[rest++];
        return true;
    }
    if (const std::shared_ptr<Channel> own = windowChannel()) {
        channel = own->Name();
        return true;
    }
    report(QStringLiteral("no channel in this window"));
    return false;
}

bool CommandInterpreter::sendCommand(const QString &line) {
    IRCConnection &conn = connection();
    if (!conn.Connected())
        return report(QStringLiteral("not connected"));
    conn.SendMessage(line);
    return true;
}

// The words from index from on, as typed, as a trailing parameter; nothing without words.
QString CommandInterpreter::trailing(qint32 from) const {
    const QString text = argumentText(from, m_ub - from + 1, false);
    return text.isEmpty() ? QString() : QStringLiteral(" :") + text;
}

// Verb, the channel, and the words after it as a trailing parameter (PART's reason, TOPIC's
// text).
bool CommandInterpreter::channelCommand(const QString &verb) {
    QString target;
    qint32 restAt = 1;
    return !channelArgument(target, restAt) ||
           sendCommand(verb + QLatin1Char(' ') + target + trailing(restAt));
}

bool CommandInterpreter::Part() {
    return channelCommand(QStringLiteral("PART"));
}

bool CommandInterpreter::Topic() {
    return channelCommand(QStringLiteral("TOPIC"));
}

bool CommandInterpreter::Names() {
    QString target;
    qint32 after = 1;
    if (m_ub > 1)
        return usage();
    return !channelArgument(target, after) || sendCommand(QStringLiteral("NAMES ") + target);
}

bool CommandInterpreter::Invite() {
    QString target;
    qint32 after = 2;
    if (m_ub < 1 || m_ub > 2)
        return usage();
    return !channelArgument(target, after) ||
           sendCommand(QStringLiteral("INVITE ") + m_words[1] + QLatin1Char(' ') + target);
}

// Only from a channel's window: the nick, then the reason as typed.
bool CommandInterpreter::Kick() {
    if (m_ub < 1)
        return usage();
    const std::shared_ptr<Channel> channel = windowChannel();
    if (!channel)
        return report(QStringLiteral("no channel in this window"));
    return sendCommand(QStringLiteral("KICK ") + channel->Name() + QLatin1Char(' ') + m_words[1] +
                       trailing(2));
}

bool CommandInterpreter::Whois() {
    return m_ub != 1 ? usage() : sendCommand(QStringLiteral("WHOIS ") + m_words[1]);
}

bool CommandInterpreter::Mode() {
    return m_ub < 1 ? usage() : sendCommand(QStringLiteral("MODE ") + argumentText(1, m_ub, false));
}

bool CommandInterpreter::Away() {
    const QString text = argumentText(1, m_ub, false);
    return sendCommand(text.isEmpty() ? QStringLiteral("AWAY") : QStringLiteral("AWAY :") + text);
}

// An action, as a CTCP ACTION message; a long one goes as several.
bool CommandInterpreter::Me() {
    if (m_ub < 1)
        return usage();
    const std::shared_ptr<Channel> channel = windowChannel();
    if (!channel)
        return report(QStringLiteral("no channel in this window"));
    IRCConnection &conn = connection();
    if (!conn.Connected())
        return report(QStringLiteral("not connected"));
    if (!channel->Joined())
        return notJoined(*channel);
    const QString head = QStringLiteral("PRIVMSG ") + channel->Name() + QStringLiteral(" :") +
                         QChar(1) + QStringLiteral("ACTION ");
    const int budget = MessageSplitter::TextBudget(QStringLiteral("PRIVMSG"), channel->Name()) - 9;
    for (const QString &part : MessageSplitter::Split(argumentText(1, m_ub, true), budget))
        conn.SendMessage(head + part + QChar(1));
    return true;
}

bool CommandInterpreter::Quit() {
    IRCConnection &conn = connection();
    if (!conn.Connected()) {
        answer(QStringLiteral("QUIT: not connected"));
        return true;
    }
    const QString text = argumentText(1, m_ub, false);
    echo(1, QStringLiteral("QUIT -> Server(") + QString::number(conn.Index()) +
                QStringLiteral("): ") + text);
    conn.SendMessage(QStringLiteral("QUIT :") + text);
    return true;
}

bool CommandInterpreter::Quote() {
    if (m_ub < 1)
        return rejected();
    const QString text = argumentText(1, m_ub, false);
    IRCConnection &conn = connection();
    if (!conn.Connected()) {
        answer(QStringLiteral("QUOTE: not connected"));
        return true;
    }
    echo(1, QStringLiteral("-> Server: [") + text + QLatin1Char(']'));
    if (m_user)
        conn.NoteAsked();
    conn.SendMessage(text);
    return true;
}

bool CommandInterpreter::Server() {
    if (m_ub < 1)
        return rejected();
    const QString portText = m_ub > 1 ? m_words[2] : QStringLiteral("6667");
    quint16 port = 0;
    bool tls = false;
    if (!ReadPort(portText, port, tls)) {
        echo(m_window, QStringLiteral("SERVER: invalid port ") + portText);
        return true;
    }
    connection().Connect(m_words[1], port, tls);
    answer(QStringLiteral("Connecting to Server ") + m_words[1] + QStringLiteral(", Port ") +
           portText + QStringLiteral("..."));
    return true;
}

bool CommandInterpreter::closeWindow(qint32 number) {
    m_app.Childs()->Item(number)->CloseWindow(m_user);
    return true;
}

bool CommandInterpreter::currentIsWindow() const {
    return m_window >= 1 && m_window <= m_app.Childs()->Count();
}

// The window's lines go; the lines typed in it stay in its history.
bool CommandInterpreter::Clear() {
    if (m_ub != 0 || !currentIsWindow())
        return usage();
    m_app.Childs()->Item(m_window)->ClearOutput();
    return true;
}

bool CommandInterpreter::Close() {
    return m_ub != 0 || !currentIsWindow() ? usage() : closeWindow(m_window);
}

bool CommandInterpreter::Window() {
    if (m_ub < 1)
        return rejected();
    const QString sub = m_words[1].toUpper();
    if (sub == QLatin1String("NEW")) {
        m_app.Childs()->Add();
        return true;
    }
    if (sub != QLatin1String("CLOSE"))
        return rejected();
    const qint32 count = m_app.Childs()->Count();
    if (m_ub == 1)
        return currentIsWindow() ? closeWindow(m_window) : rejected();
    qint32 n = 0;
    if (!ReadNumber(m_words[2], n))
        return rejected();
    if (n != 0)
        return (n >= 1 && n <= count) ? closeWindow(n) : rejected();
    return (m_user && currentIsWindow()) ? closeWindow(m_window) : rejected();
}
