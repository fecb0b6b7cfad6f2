#pragma once

#include "platform/StringArray.h"

#include <QString>
#include <memory>

class Application;
class Channel;
class IRCConnection;

// Interprets one command line typed by the user: splits it into words, selects a command by its
// first word, checks its arguments, acts on connection 1 or on the windows, and writes its
// reports into numbered windows. It keeps nothing from one line to the next.
class CommandInterpreter {
public:
    explicit CommandInterpreter(Application &app) : m_app(app) {}

    // True when the command was recognised and handled (a "not connected" report included);
    // false after the empty-command or unknown-command report.
    bool Process(const QString &Command, bool User, qint32 WindowIndex);
    // The lines of a paste typed into window WindowIndex go with its default command: a
    // channel window's as messages to the channel, the status window's as raw lines, both
    // paced one by one; no line is run as a command of its own.
    void Paste(const QString &Text, qint32 WindowIndex);

    // Whole numbers for ECHO and WINDOW CLOSE: an optional sign and decimal digits that fit in
    // 32 bits.
    static bool ReadNumber(const QString &word, qint32 &value);
    // A port: a whole number from 1 to 65535, or "+" and such a number (digits only) for a TLS
    // connection, the form other desktop chat clients use.
    static bool ReadPort(const QString &word, quint16 &port, bool &tls);
    // A plain port only: the "+" form is refused.
    static bool ReadPort(const QString &word, quint16 &port);

private:
    using Handler = bool (CommandInterpreter::*)();
    struct Entry {
        const char *keyword;
        Handler handler;
        const char *syntax;  // as /HELP lists it and a wrong use quotes it
        const char *purpose; // what /HELP says after it
    };
    static const Entry Commands[];

    bool Away();
    bool Clear();
    bool Close();
    bool Disconnect();
    bool Echo();
    bool Exit();
    bool FlushQ();
    bool Help();
    bool Invite();
    bool Join();
    bool Kick();
    bool Me();
    bool Mode();
    bool Msg();
    bool Names();
    bool Nick();
    bool Notice();
    bool Part();
    bool Quit();
    bool Quote();
    bool Server();
    bool Topic();
    bool Whois();
    bool Window();

    bool sendToTarget(const QString &echoPrefix, const QString &protocolVerb);
    // A first word that starts like a channel name names the channel (rest then counts from the
    // word after it); otherwise the channel is this window's. False, with a report, when there
    // is none.
    bool channelArgument(QString &channel, qint32 &rest) const;
    bool channelCommand(const QString &verb);
    QString trailing(qint32 from) const;
    // Sends line as it is, when connected; otherwise the not-connected report.
    bool sendCommand(const QString &line);
    // The channel whose window the line came from, if any.
    std::shared_ptr<Channel> windowChannel() const;
    // Reports of the command running: "KEYWORD: " + text, into the window the line came from.
    bool report(const QString &text) const;
    bool usage() const;
    bool notJoined(const Channel &channel) const;
    bool closeWindow(qint32 number);
    bool currentIsWindow() const;
    QString argumentText(qint32 start, qint32 count, bool normalize) const;
    IRCConnection &connection() const;
    void echo(qint32 window, const QString &text) const;
    // A report into the status window that answers what the user typed (said from any window).
    void answer(const QString &text) const;
    bool rejected() const;
    // Reads Command into the words of the line.
    bool read(const QString &Command, bool User, qint32 WindowIndex);
    const Entry *entry(const QString &keyword) const;

    Application &m_app;
    QString m_line;
    bool m_user = false;
    qint32 m_window = 0;
    StringArray m_words;
    qint32 m_ub = -1;
    const Entry *m_entry = nullptr;
};
