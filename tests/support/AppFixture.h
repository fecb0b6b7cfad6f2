#pragma once

#include "app/Application.h"
#include "app/modMain.h"
#include "connection/IRCConnections.h"
#include "windows/Childs.h"

#include <QString>
#include <QStringList>
#include <memory>

// Starts the client as the program entry does, drives its real input boxes and reads its real
// output boxes. Ends the client (if still running) when it goes.
class AppFixture {
public:
    AppFixture();
    ~AppFixture();

    Application *app() const { return modMain::CurrentApplication(); }
    bool running() const { return app() != nullptr; }
    std::shared_ptr<Child> window(qint32 index) const { return app()->Childs()->Item(index); }
    qint32 windowCount() const { return app() ? app()->Childs()->Count() : 0; }
    IRCConnection &connection() const { return *app()->Connections()->Item(1); }

    // Types text into window's input box and presses Return (the real key path).
    void type(qint32 windowIndex, const QString &text) const;
    // The lines of window's output box.
    QStringList lines(qint32 windowIndex) const;
    QStringList status() const { return lines(1); }
    // Waits (running the event loop) until window's output holds a line equal to text.
    bool waitForLine(qint32 windowIndex, const QString &text, int ms = 5000) const;

    // Answers the next question the client asks (a QMessageBox): "Send" clicks that button,
    // "Escape" or "Return" press the key. First the status window gets what a screen reader
    // reads of it: its name, ": " and its text.
    void answer(const QString &with) const;

    // Lets queued work (the release of the application object after an exit) run.
    static void settle();
};
