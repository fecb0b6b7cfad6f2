#include "support/AppFixture.h"

#include "support/ScriptedServer.h"

#include "app/Application.h"
#include "app/modMain.h"
#include "connection/IRCConnections.h"
#include "windows/Child.h"
#include "windows/Childs.h"
#include "windows/outputview/OutputView.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QTest>

AppFixture::AppFixture() {
    modMain::Main();
}

AppFixture::~AppFixture() {
    if (Application *a = app())
        a->ExitClient();
    settle();
    modMain::ReleaseApplication();
    settle();
}

Application *AppFixture::app() const {
    return modMain::CurrentApplication();
}

std::shared_ptr<Child> AppFixture::window(qint32 index) const {
    return app()->Childs()->Item(index);
}

qint32 AppFixture::windowCount() const {
    return app() ? app()->Childs()->Count() : 0;
}

IRCConnection &AppFixture::connection() const {
    return *app()->Connections()->Item(1);
}

void AppFixture::type(qint32 windowIndex, const QString &text) const {
    std::shared_ptr<Child> target = window(windowIndex);
    QLineEdit *input = target->Form()->txtInput();
    input->setFocus();
    input->setText(text);
    QTest::keyClick(input, Qt::Key_Return);
}

QStringList AppFixture::lines(qint32 windowIndex) const {
    QStringList out;
    std::shared_ptr<Child> target = window(windowIndex);
    if (!target->Form())
        return out;
    const OutputView *view = target->Form()->txtOutput();
    for (qsizetype i = 0; i < view->lineCount(); ++i)
        out.append(view->line(i));
    return out;
}

QString AppFixture::lastLine(qint32 windowIndex) const {
    const QStringList all = lines(windowIndex);
    return all.isEmpty() ? QString() : all.last();
}

bool AppFixture::waitForLine(qint32 windowIndex, const QString &text, int ms, bool prefix) const {
    const auto found = [&] {
        if (!app() || windowIndex > windowCount())
            return false;
        for (const QString &line : lines(windowIndex))
            if (prefix ? line.startsWith(text) : line == text)
                return true;
        return false;
    };
    QElapsedTimer clock;
    clock.start();
    while (!found()) {
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool AppFixture::connectTo(ScriptedServer &server) const {
    if (server.port() == 0 && !server.listen())
        return false;
    type(1, QStringLiteral("/server 127.0.0.1 %1").arg(server.port()));
    return server.waitForClient() &&
           waitForLine(1,
                       QStringLiteral("Connected to Server 127.0.0.1, Port %1").arg(server.port()));
}

bool AppFixture::feed(ScriptedServer &server, const QByteArray &lines) const {
    static int marker = 0;
    const QByteArray end = ":mark " + QByteArray::number(++marker) + " x";
    server.send(lines + end + "\r\n");
    return waitForLine(1, "<- Server(1): [" + QString::fromLatin1(end) + "]", 30000);
}

void AppFixture::settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}
