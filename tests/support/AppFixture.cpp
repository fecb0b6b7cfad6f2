#include "support/AppFixture.h"

#include "windows/Child.h"
#include "windows/outputview/OutputView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

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

void AppFixture::type(qint32 windowIndex, const QString &text) const {
    QLineEdit *input = window(windowIndex)->Form()->txtInput();
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

bool AppFixture::waitForLine(qint32 windowIndex, const QString &text, int ms) const {
    return QTest::qWaitFor(
        [&] { return app() && windowIndex <= windowCount() && lines(windowIndex).contains(text); },
        ms);
}

void AppFixture::answer(const QString &with) const {
    auto *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [timer, with, this] {
        auto *question = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!question)
            return;
        timer->stop();
        timer->deleteLater();
        app()->Echo(1, QAccessible::queryAccessibleInterface(question)->text(QAccessible::Name) +
                           ": " + question->text());
        for (QAbstractButton *button : question->buttons())
            if (button->text() == "&" + with)
                return button->click();
        QTest::keyClick(question, with == "Escape" ? Qt::Key_Escape : Qt::Key_Return);
    });
    timer->start(1);
}

void AppFixture::settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}
