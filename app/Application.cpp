#include "app/Application.h"

#include "app/Answers.h"
#include "app/CommandInterpreter.h"
#include "app/modMain.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "connection/MessageLine.h"
#include "platform/EscapedErrors.h"
#include "platform/Utilities.h"
#include "windows/Childs.h"
#include "windows/frmMain.h"

#include <QAction>
#include <QDate>

Application::Application() {
    m_key = Utilities::NewInstanceKey();
    pobjChilds = std::make_unique<::Childs>();
    pobjChilds->SetParent(this);

    pobjWindow = new frmMain;
    pobjWindow->setWindowTitle(modMain::GetVersionTitle());
    pobjWindowMnuFileExit = connect(pobjWindow->mnuFileExit(), &QAction::triggered, this,
                                    [this] { Guarded([this] { pobjWindowMnuFileExit_Click(); }); });
    pobjWindowMnuHelpAbout = connect(pobjWindow->mnuHelpAbout(), &QAction::triggered, this, [this] {
        Guarded([this] { pobjWindowMnuHelpAbout_Click(); });
    });
    connect(pobjWindow, &frmMain::QueryUnload, this, &Application::pobjWindow_QueryUnload);
    pobjWindow->show();

    pobjConnections = std::make_unique<IRCConnections>();
    connect(pobjConnections.get(), &IRCConnections::GetMessageTypeError, this,
            &Application::pobjConnections_GetMessageTypeError);
    connect(pobjConnections.get(), &IRCConnections::SMsgNotProcessed, this,
            &Application::pobjConnections_SMsgNotProcessed);
    pobjConnections->SetParent(this);
    pobjConnections->Add();

    pobjChilds->Add();
    // From now on an error that escapes a handler is reported in the status window.
    EscapedErrors::SetSink([this](const QString &line) { Echo(1, line); });
}

// Teardown: every step runs, whatever failed before it.
Application::~Application() {
    EscapedErrors::SetSink(nullptr);
    const auto step = [](auto &&work) {
        try {
            work();
        } catch (...) {
        }
    };
    step([this] {
        if (pobjChilds)
            pobjChilds->Clear();
    });
    step([this] {
        if (pobjConnections)
            pobjConnections->Delete();
        pobjConnections.reset();
    });
    step([this] {
        if (pobjWindow)
            pobjWindow->hide();
    });
    step([this] {
        disconnect(pobjWindowMnuHelpAbout);
        disconnect(pobjWindowMnuFileExit);
    });
    step([this] {
        if (pobjWindow)
            pobjWindow->Unload();
        pobjWindow = nullptr;
    });
    step([this] {
        if (pobjChilds)
            pobjChilds->Delete();
        pobjChilds.reset();
    });
}

frmMain *Application::MainWindow() const {
    return pobjWindow.data();
}

Child &Application::window(qint32 WindowIndex) const {
    // After ExitClient there are no windows left: a late report fails like any missing window.
    if (!pobjChilds)
        throw VelloqError(VelloqError::SubscriptOutOfRange,
                          QStringLiteral("No window %1: the windows are closed").arg(WindowIndex));
    return *pobjChilds->Item(WindowIndex);
}

void Application::Echo(qint32 WindowIndex, const QString &Output) {
    window(WindowIndex).Echo(Output);
}

void Application::EchoAnswer(const QString &Output, const QString &Spoken) {
    window(1).EchoAnswer(Output, Spoken);
}

bool Application::ExitClient() {
    emit ExitClientStarted();
    if (pobjChilds) {
        pobjChilds->Delete();
        pobjChilds.reset();
    }
    if (pobjConnections) {
        pobjConnections->Delete();
        pobjConnections.reset();
    }
    modMain::SetApplication(nullptr);
    return true;
}

bool Application::ProcessCommand(const QString &Command, bool User, qint32 WindowIndex) {
    return CommandInterpreter(*this).Process(Command, User, WindowIndex);
}

void Application::ProcessPaste(const QString &Text, qint32 WindowIndex) {
    CommandInterpreter(*this).Paste(Text, WindowIndex);
}

void Application::pobjConnections_GetMessageTypeError(qint32 Connection,
                                                      const QString &Description) {
    EchoAnswer(QStringLiteral("Server(") + QString::number(Connection) +
               QStringLiteral(") ERROR: ") + Description);
}

void Application::pobjConnections_SMsgNotProcessed(qint32 Connection, const QString &Message) {
    const QString line = QStringLiteral("<- Server(") + QString::number(Connection) +
                         QStringLiteral("): [") + Message + QLatin1Char(']');
    // A line answering the user is said even from another window; a private message to us is
    // also marked like a line naming us.
    const MessageLine message = MessageLine::Parse(Message);
    const IRCConnection *connection =
        pobjConnections ? pobjConnections->Item(Connection).get() : nullptr;
    if (!pobjChilds || !connection ||
        !Answers::IsAnswer(message, connection->Nick(), connection->Asked()))
        return Echo(1, line);
    if (message.Command() == u"PRIVMSG")
        pobjChilds->Item(1)->EchoMention(line, Answers::Spoken(message));
    else
        EchoAnswer(line, Answers::Spoken(message));
}

void Application::pobjWindow_QueryUnload(bool &Cancel, int UnloadMode) {
    if (UnloadMode == 1)
        return;
    // A failing ExitClient keeps the main window open: its error is reported in the status
    // window, which is still there to show it.
    Cancel = true;
    Cancel = !ExitClient();
}

void Application::pobjWindowMnuFileExit_Click() {
    ExitClient();
}

void Application::pobjWindowMnuHelpAbout_Click() {
    const QStringList lines = {
        QStringLiteral("Copyright \u00A9 %1 the Velloq authors").arg(QDate::currentDate().year()),
        QStringLiteral("Written by the Velloq developers, a small team building a small IRC "
                       "client."),
        QStringLiteral("IRC stands for Internet Relay Chat."),
        QStringLiteral("It's a form of communicating with people over the Internet.")};
    Utilities::ShowAbout(modMain::GetVersionTitle(), pobjWindow->windowIcon(),
                         QStringLiteral("Zelk IRC Client"), lines, pobjWindow);
}
