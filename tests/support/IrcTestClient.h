#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QTcpSocket>

// "Another user" on the test IRC server: a plain socket client that registers with NICK/USER,
// answers the server's PINGs by itself and records every line it receives, so an end-to-end
// test can make the client under test talk to someone and check what that someone sees.
//
// Every wait spins the event loop (the client under test lives in the same thread).
class IrcTestClient : public QObject {
    Q_OBJECT

public:
    explicit IrcTestClient(QObject *parent = nullptr);
    ~IrcTestClient() override;

    // Connects to 127.0.0.1:port, registers as nick (user name = nick) and waits for the
    // welcome (001), all within ms. On failure errorString() says why.
    bool connectTo(quint16 port, const QString &nick, int ms = 5000);
    QString nick() const { return m_nick; }
    bool isConnected() const;
    QString errorString() const { return m_error; }

    // Sends one protocol line; CR LF is added.
    void sendLine(const QByteArray &line);

    // Every line received (without CR LF), PINGs included.
    QList<QByteArray> lines() const { return m_lines; }
    // Waits for a line matching re (matched against the line decoded as UTF-8). The search starts
    // at a read cursor and moves the cursor past the matching line, so a line is matched at most
    // once and lines before it are not searched again: successive calls expect lines in order.
    // The matching line is stored in *matched.
    bool waitForLine(const QRegularExpression &re, int ms = 5000, QByteArray *matched = nullptr);
    // Forgets every line received so far and resets the cursor.
    void clearLines();

    // Joins the channel and waits for the server's echo of our JOIN and the end of its name list
    // (366), so that the membership is complete when it returns.
    bool join(const QString &channel, int ms = 5000);
    // Sends QUIT and waits (briefly) for the server to close the connection.
    void quit();

private:
    void readLines();
    bool fail(const QString &message);

    QTcpSocket m_socket;
    QByteArray m_buffer;
    QList<QByteArray> m_lines;
    qsizetype m_cursor = 0;
    QString m_nick;
    QString m_error;
};
