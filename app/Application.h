#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

class Child;
class Childs;
class IRCConnections;
class frmMain;

// The one application object: it builds the main window, the window collection with the status
// window and the connection collection with connection 1, interprets typed commands, writes
// report lines into numbered windows and shuts the program down.
class Application : public QObject {
    Q_OBJECT
public:
    Application();
    ~Application() override;

    ::Childs *Childs() const { return pobjChilds.get(); }
    // Appends Output as one line to window WindowIndex; fails when there is no such window.
    void Echo(qint32 WindowIndex, const QString &Output);
    // Appends Output to the status window as a line that answers the user (Child::EchoAnswer).
    void EchoAnswer(const QString &Output, const QString &Spoken = QString());
    bool ExitClient();
    bool ProcessCommand(const QString &Command, bool User = false, qint32 WindowIndex = 0);
    // The lines of a paste into window WindowIndex: text for its default command, never commands.
    void ProcessPaste(const QString &Text, qint32 WindowIndex);

    // For the program's own classes.
    QString InstanceKey() const { return m_key; }
    frmMain *MainWindow() const;
    IRCConnections *Connections() const { return pobjConnections.get(); }

signals:
    // Raised as ExitClient starts (tests count shutdowns with it).
    void ExitClientStarted();

private:
    void pobjConnections_GetMessageTypeError(qint32 Connection, const QString &Description);
    void pobjConnections_SMsgNotProcessed(qint32 Connection, const QString &Message);
    void pobjWindow_QueryUnload(bool &Cancel, int UnloadMode);
    void pobjWindowMnuFileExit_Click();
    void pobjWindowMnuHelpAbout_Click();
    Child &window(qint32 WindowIndex) const;

    QString m_key;
    std::unique_ptr<::Childs> pobjChilds;
    std::unique_ptr<IRCConnections> pobjConnections;
    QPointer<frmMain> pobjWindow;
    QMetaObject::Connection pobjWindowMnuFileExit;
    QMetaObject::Connection pobjWindowMnuHelpAbout;
};
