#pragma once

#include "connection/LineFramer.h"
#include "connection/SendPacer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <memory>

class Channels;
class IRCConnections;
class MessageLine;
class SocketArray;
class SocketElement;

// One connection to a chat server. It owns one element of the main window's socket array, its
// channel collection and its receive buffer; it cuts the received bytes into lines, offers each
// line to the collection's GetMessageRaw and then processes it, sends single lines, and reports
// the state of the connection in the status window.
class IRCConnection : public QObject, public std::enable_shared_from_this<IRCConnection> {
    Q_OBJECT
public:
    IRCConnection();
    ~IRCConnection() override;

    ::Channels *Channels() const { return m_channels.get(); }
    // With Tls the connection is encrypted and the server's certificate checked; Reconnect keeps
    // the choice.
    void Connect(const QString &Server, quint16 Port, bool Tls = false);
    bool Connected() const { return m_connected; }
    void Delete();
    void Disconnect();
    qint32 Index() const { return m_index; }
    IRCConnections *Parent() const { return m_parent; }
    // Received is the line's bytes as they came from the server, when known: PING is answered
    // with them, so a token that is not UTF-8 comes back unchanged.
    bool ProcessServerMessage(const QString &Message, QByteArrayView Received = {});
    bool Reconnect();
    // Sends one protocol line. Messages (PRIVMSG, NOTICE) are paced (see SendPacer): a long
    // paste waits its turn, with one line in the window it goes to; every other line goes at
    // once.
    void SendMessage(const QString &Message);
    // The lines of a paste, sent as messages with Verb to Target, or as raw lines when Verb is
    // empty; paced one by one, each shown in the window WindowKey names as it goes.
    void SendLines(const QString &Verb, const QString &Target, const QString &Text,
                   const QString &WindowKey);
    // Drops the messages still waiting for Target (we left it), saying how many.
    void DropWaiting(const QString &Target);
    // Drops every line still waiting, saying how many; returns how many.
    qsizetype FlushWaiting();
    // The pacing of this connection's messages (tests set its rate).
    SendPacer &Pacer() { return m_pacer; }
    // The user sent a command of their own (a raw line); Asked() says whether that was recently
    // enough for the server's replies to count as its answer (see Answers).
    void NoteAsked() { m_asked.start(); }
    bool Asked() const;

    // For the collection only.
    void SetIndex(qint32 index) { m_index = index; }
    void SetParent(IRCConnections *parent);
    QString InstanceKey() const { return m_instanceKey; }

    qint16 SocketIndex() const { return m_socketIndex; }
    QString Server() const { return m_server; }
    quint16 Port() const { return m_port; }
    bool Tls() const { return m_tls; }
    // Our own nick as the server knows it: empty until the server's welcome names it.
    const QString &Nick() const { return m_nick; }

    // Takes bytes as if they had arrived on the socket: framing, decoding and processing run
    // exactly as for received data. For fuzzing and tests.
    void FeedReceived(QByteArrayView bytes);

    // The text put on the wire for Message: CR, LF and NUL inside it become blanks, so one call
    // never sends more than one protocol line.
    static QByteArray WireLine(const QString &Message);

private:
    void pobjConnectionEvents_WSClose(qint16 &Index);
    void pobjConnectionEvents_WSConnect(qint16 &Index);
    void pobjConnectionEvents_WSDataArrival(qint16 &Index, qint32 bytesTotal);
    void pobjConnectionEvents_WSError(qint16 &Index, qint16 Number, QString &Description,
                                      qint32 Scode, const QString &Source, const QString &HelpFile,
                                      qint32 HelpContext, bool &CancelDisplay);

    SocketElement *socket() const;
    SocketArray *sockets() const;
    void statusLine(const QString &text) const;
    QString serverAndPort() const;
    // The stream read so far ends (close, restart, deletion): its unread rest is dropped, and a
    // running processLines stops after the handler it is in.
    void endStream();
    void ended(const QString &line, const QString &reason = QString());
    void scheduleSlice();
    void receive();
    bool processLines(qint64 budgetNs);
    qint32 channelCount() const;
    bool processMessageLine(const MessageLine &line);
    // WireLine for a line that is bytes already.
    static QByteArray WireBytes(QByteArray Line);
    void sendWire(const QByteArray &wire);
    void sendPaced(const QByteArray &wire);
    void reportWaiting();
    void showPasted(const QString &windowKey, const QString &line);
    // Drops the messages still waiting, saying how many (counting alsoDropped more).
    void dropWaiting(qsizetype alsoDropped = 0);
    // "... count waiting lines [for target] not sent" in the status window.
    void reportNotSent(qsizetype count, const QString &target = QString());
    bool live() const;

    // Work per event-loop turn: lines are processed for about this long before the rest waits
    // for the next turn (the clock is read every LinesPerClockCheck lines, and after every line
    // that opened or closed a channel window, which alone may take milliseconds); bytes are read
    // from the socket ReadChunkBytes at a time, as lines are needed.
    static constexpr qint64 SliceNs = 2'000'000;
    static constexpr int LinesPerClockCheck = 32;
    static constexpr qsizetype ReadChunkBytes = 64 * 1024;
    void releaseResources();

    LineFramer m_buffer;
    std::unique_ptr<::Channels> m_channels;
    bool m_connected = false;
    qint32 m_index = -1;
    IRCConnections *m_parent = nullptr;
    quint16 m_port = 0;
    bool m_tls = false;
    QString m_server;
    QString m_nick;
    QString m_instanceKey;
    qint16 m_socketIndex = -1;
    QPointer<SocketArray> pobjConnectionEvents;
    SendPacer m_pacer;
    QElapsedTimer m_asked;
    quint64 m_stream = 0;        // changes when the stream ends or another loop takes it over
    bool m_processing = false;   // a slice is running
    bool m_slicePending = false; // the next slice is queued for a later turn
};
