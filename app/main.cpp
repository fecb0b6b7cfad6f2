#include "app/Application.h"
#include "app/modMain.h"
#include "windows/frmMain.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[]) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velloq"));
    QApplication::setApplicationVersion(QStringLiteral("0.4.0"));
    QApplication::setDesktopFileName(QStringLiteral("io.velloq.Velloq"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velloq/velloq.svg")));
    // The program ends when its main window is gone, not when the last window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    modMain::Main();
    if (Application *app = modMain::CurrentApplication())
        QObject::connect(app->MainWindow(), &QObject::destroyed, &qt, &QCoreApplication::quit);
    const int code = QApplication::exec();
    // Whatever is still held goes now, before the toolkit does.
    modMain::ReleaseApplication();
    return code;
}
