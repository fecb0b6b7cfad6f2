#include "FuzzTargets.h"

#include "app/Application.h"
#include "app/CommandInterpreter.h"
#include "app/modMain.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "connection/MessageSplitter.h"
#include "platform/TokenList.h"
#include "platform/Utilities.h"
#include "windows/Child.h"
#include "windows/Childs.h"
#include "windows/outputview/OutputView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what) {
    qCritical("fuzz property broken: %s", what);
    std::abort();
}

QApplication &qt() {
    static int argc = 1;
    static char name[] = "velloq-fuzz";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

Application &client() {
    qt();
    if (!modMain::CurrentApplication())
        modMain::Main();
    // A fuzzing run ends with exit(), when parts of the toolkit are already gone: leave
    // without tearing the client down.
    static const bool registered = [] {
        return !FuzzTargets::QuickExit || std::atexit([] { std::_Exit(0); }) == 0;
    }();
    Q_UNUSED(registered);
    return *modMain::CurrentApplication();
}

// Keeps the client small between inputs: a few windows, a few channels, short outputs.
void trim(Application &app) {
    Channels *channels =
        app.Connections()->Count() ? app.Connections()->Item(1)->Channels() : nullptr;
    if (channels && channels->Count() > 8)
        channels->Clear();
    while (app.Childs()->Count() > 12)
        app.Childs()->Item(app.Childs()->Count())->Delete();
    for (const auto &window : app.Childs()->NewEnum())
        if (window->Form() && window->Form()->txtOutput()->lineCount() > 2000)
            window->Form()->txtOutput()->clear();
    // Closed windows go once the event that closed them is over.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A loopback listener that reads and drops whatever the client sends.
struct Sink {
    QTcpServer server;
    Sink() {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *peer = server.nextPendingConnection())
                QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer] { peer->readAll(); });
        });
    }
};

IRCConnection &connection(Application &app) {
    if (app.Connections()->Count() == 0)
        app.Connections()->Add();
    return *app.Connections()->Item(1);
}

void ensureConnected(Application &app) {
    static Sink sink;
    IRCConnection &conn = connection(app);
    if (conn.Connected())
        return;
    conn.Connect(QStringLiteral("127.0.0.1"), sink.server.serverPort());
    QElapsedTimer clock;
    clock.start();
    while (!conn.Connected() && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

namespace FuzzTargets {

bool QuickExit = false;

void ServerStream(QByteArrayView data) {
    Application &app = client();
    IRCConnection &conn = connection(app);
    for (const char *name : {"#a", "#b"})
        if (!conn.Channels()->Item(QString::fromLatin1(name)))
            conn.FeedReceived(QByteArray(":me!u@h JOIN :") + name + "\r\n");
    conn.FeedReceived(data);
    conn.FeedReceived("\r\n"); // end whatever partial line the input left
    trim(app);
}

void Command(QByteArrayView data) {
    if (data.isEmpty())
        return;
    const QString line = QString::fromUtf8(data.sliced(1));
    // A SERVER line would reach out to whatever host the input names: only loopback is ours.
    const QString keyword = line.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
    if (keyword == QLatin1String("SERVER"))
        return;
    Application &app = client();
    ensureConnected(app);
    const qint32 window = 1 + static_cast<unsigned char>(data[0]) % app.Childs()->Count();
    try {
        app.ProcessCommand(line, true, window);
    } catch (const VelloqError &) {
        // an error for the caller is a legitimate outcome (ECHO to no window)
    }
    QCoreApplication::processEvents();
    if (modMain::CurrentApplication()) // EXIT ends the client; the next input starts it anew
        trim(*modMain::CurrentApplication());
    else
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void Words(QByteArrayView data) {
    const QString text = QString::fromUtf8(data);
    const QChar quote(u'"');
    const StringArray words =
        Utilities::NormalizeWords(Utilities::SplitQuoted(text, u' ', quote, quote), 0);
    const QString joined =
        Utilities::JoinQuoted(Utilities::NormalizeWords(words, 1), u' ', quote, quote);
    const StringArray again =
        Utilities::NormalizeWords(Utilities::SplitQuoted(joined, u' ', quote, quote), 0);
    if (again.Items != words.Items)
        fail("split(join(split(x))) != split(x)");
    for (const QString &word : words.Items)
        if (word.isEmpty())
            fail("an empty word");

    for (const char *delimiter : {":", " "}) {
        TokenList list;
        list.SetDelimiter(QString::fromLatin1(delimiter));
        list.SetQuotes(QString(), QString());
        list.SetText(text);
        if (list.Text() != text)
            fail("token list does not give its text back");
        if (text.size() && list.Count() != text.count(QLatin1String(delimiter)) + 1)
            fail("token count");
        if (list.Count() >= 2) {
            list.Remove(1);
            list.Item(1);
        }
    }

    const QStringList parts = MessageSplitter::Split(text);
    if (parts.join(QString()) != text)
        fail("message parts do not give the text back");
    for (const QString &part : parts)
        if (part.toUtf8().size() > MessageSplitter::MaxTextBytes && part.size() > 1)
            fail("a message part over the limit");

    qint32 number = 0;
    CommandInterpreter::ReadNumber(text, number);
    if (words.Count() > 0) {
        const qint32 start = static_cast<unsigned char>(data[0]) % (words.Count() + 2) - 1;
        const qint32 count =
            static_cast<unsigned char>(data[data.size() - 1]) % (words.Count() + 2) - 1;
        try {
            const StringArray slice = modMain::SliceArray(words, start, count);
            if (slice.Count() != count && count != 0)
                fail("slice size");
        } catch (const VelloqError &e) {
            if (static_cast<quint32>(e.Number()) != 0x8004040Eu)
                fail("slice error number");
        }
    }
}

void Shutdown() {
    if (Application *app = modMain::CurrentApplication())
        app->ExitClient();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    modMain::ReleaseApplication();
}

} // namespace FuzzTargets
