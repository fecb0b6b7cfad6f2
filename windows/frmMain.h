#pragma once

#include "connection/SocketArray.h"

#include <QMainWindow>
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

    // Adds a chat window's form to the frame and shows it at once.
    QMdiSubWindow *AddChildForm(QWidget *form);

    // Closes the frame as the program itself (unload mode 1): hides it and lets it go once the
    // current event has been handled.
    void Unload();

signals:
    // Before the frame closes. Cancel set to true keeps it; UnloadMode 1 is the program's own
    // unload, anything else a close by the user or the desktop.
    void QueryUnload(bool &Cancel, int UnloadMode);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void addWindowSwitchKeys();
    void cascadeWindows();
    void rebuildWindowMenu();

    std::unique_ptr<Ui::frmMain> ui;
    SocketArray m_sockets;
    QAction *m_windowNext = nullptr;
    QAction *m_windowPrevious = nullptr;
    bool m_unloading = false;
};
