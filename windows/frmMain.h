#pragma once

#include "connection/SocketArray.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <memory>

namespace Ui {
class frmMain;
}
class QMdiArea;
class QMdiSubWindow;
class QAction;
class QMenu;

// The main window: a multi-document frame with the menus File, Window and ?, the host of the
// chat windows and of the socket array wsConnection.
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    QAction *mnuFileExit() const;
    QAction *mnuHelpAbout() const;
    QMenu *mnuWindow() const;
    QAction *mnuWindowTile() const;
    QAction *mnuWindowCascade() const;
    // Ctrl+Tab and Ctrl+Shift+Tab: the next and the previous chat window, in the order of the
    // Window menu. Not in any menu.
    QAction *actWindowNext() const { return m_windowNext; }
    QAction *actWindowPrevious() const { return m_windowPrevious; }
    QMdiArea *mdiArea() const;

    // The socket array: element 0 exists from the start.
    SocketArray &wsConnection() { return m_sockets; }

    // Adds a chat window's form to the frame and shows it at once. A window opened while no
    // other is being opened becomes the active one at once; of a burst of windows (another one
    // opened in each event-loop turn), the last becomes active once the burst is over. A window
    // opened in the background never becomes active by itself: it goes just under the current
    // window, which keeps the keyboard focus.
    QMdiSubWindow *AddChildForm(QWidget *form, bool Foreground = true);

    // Closes the frame as the program itself (unload mode 1): hides it and lets it go once the
    // current event has been handled.
    void Unload();

signals:
    // Before the frame closes. Cancel set to true keeps it; UnloadMode 1 is the program's own
    // unload, anything else a close by the user or the desktop.
    void QueryUnload(bool &Cancel, int UnloadMode);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void addWindowSwitchKeys();
    void cascadeWindows();
    void rebuildWindowMenu();
    void showWithoutActivating(QMdiSubWindow *sub);
    void endOfTurnWithNewWindows();

    std::unique_ptr<Ui::frmMain> ui;
    SocketArray m_sockets;
    QAction *m_windowNext = nullptr;
    QAction *m_windowPrevious = nullptr;
    bool m_unloading = false;
    // The window-opening burst: whether one is going on, the windows opened since the last
    // end-of-turn check, and the newest window still waiting to become active.
    bool m_burst = false;
    int m_openedThisTurn = 0;
    QPointer<QMdiSubWindow> m_burstLast;
    // When the frame last painted; during a burst it paints at most every BurstPaintMs.
    QElapsedTimer m_lastPaint;
    static constexpr qint64 BurstPaintMs = 100;
};
