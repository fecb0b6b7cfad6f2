#include "app/CommandInterpreter.h"

#include "app/Application.h"
#include "app/modMain.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "connection/MessageSplitter.h"
#include "platform/Utilities.h"
#include "windows/Childs.h"

namespace {
const QChar QuoteChar(u'"');
const QChar Blank(u' ');
} // namespace

const CommandInterpreter::Entry CommandInterpreter::Commands[] = {
    {"DISCONNECT", &CommandInterpreter::Disconnect},
    {"ECHO", &CommandInterpreter::Echo},
    {"EXIT", &CommandInterpreter::Exit},
    {"MSG", &CommandInterpreter::Msg},
    {"NOTICE", &CommandInterpreter::Notice},
    {"QUIT", &CommandInterpreter::Quit},
    {"QUOTE", &CommandInterpreter::Quote},
    {"SERVER", &CommandInterpreter::Server},
    {"WINDOW", &CommandInterpreter::Window},
};

bool CommandInterpreter::Process(const QString &Command, bool User, qint32 WindowIndex) {
    m_line = Command;
    m_user = User;
    m_window = WindowIndex;
    m_words =
        Utilities::NormalizeWords(Utilities::SplitQuoted(Command, Blank, QuoteChar, QuoteChar), 0);
    m_ub = Utilities::UpperIndex(m_words, -1);
    if (m_ub < 0) {
        echo(m_window, QStringLiteral("Empty command given. [") + m_line + QLatin1Char(']'));
        return false;
    }
    const QString keyword = m_words[0].toUpper();
    for (const Entry &entry : Commands)
        if (keyword == QLatin1String(entry.keyword))
            return (this->*entry.handler)();
    return rejected();
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
        echo(1, QStringLiteral("DISCONNECT: not connected"));
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

bool CommandInterpreter::sendToTarget(const QString &echoPrefix, const QString &protocolVerb,
                                      const QString &notConnected) {
    if (m_ub < 1)
        return rejected();
    const QString target = m_words[1];
    const QString text = argumentText(2, m_ub - 1, true);
    IRCConnection &conn = connection();
    if (!conn.Connected()) {
        echo(m_window, notConnected);
        return true;
    }
    // A line typed in the target's own channel window already shows there.
    const std::shared_ptr<Channel> channel = conn.Channels()->Item(target);
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
    return sendToTarget(QStringLiteral("-> "), QStringLiteral("PRIVMSG"),
                        QStringLiteral("MSG: not connected"));
}

bool CommandInterpreter::Notice() {
    return sendToTarget(QStringLiteral("notice -> "), QStringLiteral("NOTICE"),
                        QStringLiteral("NOTICE: not connected"));
}

bool CommandInterpreter::Quit() {
    IRCConnection &conn = connection();
    if (!conn.Connected()) {
        echo(1, QStringLiteral("QUIT: not connected"));
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
        echo(1, QStringLiteral("QUOTE: not connected"));
        return true;
    }
    echo(1, QStringLiteral("-> Server: [") + text + QLatin1Char(']'));
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
    echo(1, QStringLiteral("Connecting to Server ") + m_words[1] + QStringLiteral(", Port ") +
                portText + QStringLiteral("..."));
    return true;
}

bool CommandInterpreter::closeWindow(qint32 number) {
    m_app.Childs()->Item(number)->CloseWindow(m_user);
    return true;
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
    const bool currentIsWindow = m_window >= 1 && m_window <= count;
    if (m_ub == 1)
        return currentIsWindow ? closeWindow(m_window) : rejected();
    qint32 n = 0;
    if (!ReadNumber(m_words[2], n))
        return rejected();
    if (n != 0)
        return (n >= 1 && n <= count) ? closeWindow(n) : rejected();
    return (m_user && currentIsWindow) ? closeWindow(m_window) : rejected();
}
