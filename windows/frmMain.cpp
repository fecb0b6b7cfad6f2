#include "windows/frmMain.h"

#include "platform/EscapedErrors.h"
#include "ui_frmMain.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>

static void loadResources() { Q_INIT_RESOURCE(velloq); }

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::frmMain>()), m_sockets(this) {
    loadResources();
    ui->setupUi(this);
    setCentralWidget(ui->mdiArea);
    setWindowIcon(QIcon(QStringLiteral(":/velloq/velloq.svg")));
    connect(ui->mnuWindow, &QMenu::aboutToShow, this, &frmMain::rebuildWindowMenu);
    // The list is also built now so that the menu is never found empty by accessibility tools.
    rebuildWindowMenu();
}

frmMain::~frmMain() = default;

QAction *frmMain::mnuFileExit() const { return ui->mnuFileExit; }
QAction *frmMain::mnuHelpAbout() const { return ui->mnuHelpAbout; }
QMenu *frmMain::mnuWindow() const { return ui->mnuWindow; }
QMdiArea *frmMain::mdiArea() const { return ui->mdiArea; }

QMdiSubWindow *frmMain::AddChildForm(QWidget *form) {
    QMdiSubWindow *sub = ui->mdiArea->addSubWindow(form);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->resize(520, 340);
    sub->show();
    return sub;
}

void frmMain::Unload() {
    m_unloading = true;
    hide();
    deleteLater();
}

void frmMain::closeEvent(QCloseEvent *event) {
    if (m_unloading) {
        event->accept();
        return;
    }
    bool cancel = false;
    Guarded([&] { emit QueryUnload(cancel, 0); });
    event->setAccepted(!cancel);
}

// The Window menu lists the open chat windows in frame order, checks the active one and
// activates the one chosen. Each entry lives only as long as its window.
void frmMain::rebuildWindowMenu() {
    QMenu *menu = ui->mnuWindow;
    menu->clear();
    const auto windows = ui->mdiArea->subWindowList(QMdiArea::CreationOrder);
    QMdiSubWindow *active = ui->mdiArea->activeSubWindow();
    auto *group = new QActionGroup(menu);
    for (QMdiSubWindow *sub : windows) {
        if (!sub->isVisible() && !sub->isMinimized())
            continue;
        QAction *action = menu->addAction(sub->windowTitle());
        action->setCheckable(true);
        action->setChecked(sub == active);
        group->addAction(action);
        connect(action, &QAction::triggered, sub, [this, sub] {
            ui->mdiArea->setActiveSubWindow(sub);
        });
    }
}
