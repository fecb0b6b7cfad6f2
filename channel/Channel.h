#pragma once

#include <QObject>
#include <QString>
#include <memory>

class Channels;
class Child;
class IRCConnection;

// One IRC channel on one connection: it has a chat window of its own, in which its messages
// and notices are shown, and sends the channel's protocol lines through the connection.
class Channel : public QObject, public std::enable_shared_from_this<Channel> {
    Q_OBJECT
public:
    Channel();
    ~Channel() override;

    void Delete();
    void GetNotice(QStringView Source, QStringView Notice);
    void GetPrivMsg(QStringView Source, QStringView PrivMsg);
    qint32 Index() const { return m_index; }
    void Join();
    bool Joined() const { return m_joined; }
    const QString &Name() const { return m_name; }
    Channels *Parent() const { return m_parent; }
    void Part();
    void SendNotice(const QString &Notice);
    void SendPrivMsg(const QString &PrivMsg);

    // For the channel collection and the server-message processing.
    void SetIndex(qint32 index) { m_index = index; }
    void SetJoined(bool joined);
    // No longer joined, but the window stays with its text: the status window says "Left
    // Channel", the channel's own window gets Why.
    void MarkNotJoined(const QString &Why);
    // By kicked us out, for Reason: said in the status window and the channel's window, and the
    // channel is no longer joined.
    void Kicked(QStringView By, QStringView Reason);
    // Our PART came without our asking (an operator's SAPART arrives as our own PART): as after a
    // kick, the window stays with its text and says so, and the channel is no longer joined.
    void RemovedByServer(QStringView Reason);
    // We sent a PART for this channel on this connection; its confirmation closes the window.
    // Forgotten whenever the joined state changes.
    void NotePartRequested() { m_partRequested = true; }
    bool PartRequested() const { return m_partRequested; }
    void SetName(const QString &name);
    void SetParent(Channels *parent);
    QString InstanceKey() const { return m_instanceKey; }
    // The channel's window; defined while the channel is placed.
    std::shared_ptr<Child> Window() const { return pobjWindow; }

private:
    void pobjWindow_CloseWindow(bool User);
    IRCConnection *connection() const;
    const QString &framed(QLatin1String open, QStringView nick, QLatin1String close,
                          QStringView text);
    void show(const QString &line, QStringView message);
    void send(const QString &line) const;
    QString contents() const;
    void updateCaption() const;
    void statusLine(const QString &text) const;
    QString removedLine(QString text, QStringView Reason) const;
    void left() const;

    qint32 m_index = -1;
    bool m_joined = false;
    QString m_name;
    Channels *m_parent = nullptr;
    QString m_instanceKey;
    std::shared_ptr<Child> pobjWindow;
    bool m_deleting = false;
    bool m_partRequested = false;
    QString m_shown; // the line being shown
};
