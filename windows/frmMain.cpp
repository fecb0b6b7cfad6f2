#include "windows/frmMain.h"

#include "platform/EscapedErrors.h"
#include "ui_frmMain.h"
#include "windows/CachedIconStyle.h"
#include "windows/frmChild.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStyle>

static void loadResources() {
    Q_INIT_RESOURCE(velloq);
}

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::frmMain>()), m_sockets(this) {
    loadResources();
    CachedIconStyle::Install();
    ui->setupUi(this);
    setCentralWidget(ui->mdiArea);
    setWindowIcon(QIcon(QStringLiteral(":/velloq/velloq.svg")));
    connect(ui->mnuWindowTile, &QAction::triggered, ui->mdiArea, &QMdiArea::tileSubWindows);
    connect(ui->mnuWindowCascade, &QAction::triggered, this, &frmMain::cascadeWindows);
    addWindowSwitchKeys();
    connect(ui->mnuWindow, &QMenu::aboutToShow, this, &frmMain::rebuildWindowMenu);
    // The list is also built now so that the menu is never found empty by accessibility tools.
    rebuildWindowMenu();
}

frmMain::~frmMain() = default;

QAction *frmMain::mnuFileExit() const {
    return ui->mnuFileExit;
}
QAction *frmMain::mnuHelpAbout() const {
    return ui->mnuHelpAbout;
}
QMenu *frmMain::mnuWindow() const {
    return ui->mnuWindow;
}
QMdiArea *frmMain::mdiArea() const {
    return ui->mdiArea;
}
QAction *frmMain::mnuWindowTile() const {
    return ui->mnuWindowTile;
}
QAction *frmMain::mnuWindowCascade() const {
    return ui->mnuWindowCascade;
}

// QMdiArea has a Ctrl+Tab of its own that steps by a highlight and an order of its own and
// activates only when Ctrl comes up. Window shortcuts run before the key reaches the area, so
// these move exactly one window on at once, in the order of the Window menu.
void frmMain::addWindowSwitchKeys() {
    m_windowNext = new QAction(tr("Next Window"), this);
    m_windowNext->setObjectName(QStringLiteral("actWindowNext"));
    m_windowNext->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab));
    connect(m_windowNext, &QAction::triggered, ui->mdiArea, &QMdiArea::activateNextSubWindow);
    addAction(m_windowNext);

    // With Shift held the keyboard reports Backtab; both spellings are accepted.
    m_windowPrevious = new QAction(tr("Previous Window"), this);
    m_windowPrevious->setObjectName(QStringLiteral("actWindowPrevious"));
    m_windowPrevious->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)});
    connect(m_windowPrevious, &QAction::triggered, ui->mdiArea,
            &QMdiArea::activatePreviousSubWindow);
    addAction(m_windowPrevious);

    // The system's Close keys (Ctrl+F4) close the active chat window, as a close from its title
    // bar does. One action here stands for the one each sub-window's menu would bring (see
    // AddChildForm).
    auto *close = new QAction(tr("Close Window"), this);
    close->setObjectName(QStringLiteral("actWindowClose"));
    close->setShortcuts(QKeySequence::Close);
    connect(close, &QAction::triggered, this, [this] {
        if (QMdiSubWindow *active = ui->mdiArea->activeSubWindow())
            active->close();
    });
    addAction(close);
}

// QMdiArea cascades its windows at their minimum size, which for a chat window is little more
// than its title bar, and leaves their stacking as it was, so that the active window may cover
// the title bars of those placed after it. The places of the cascade are dealt out again with
// the active window last, each window is raised above the one before it, and all grow to one
// common size that lets the whole stack fill the area: every title bar stays visible.
void frmMain::cascadeWindows() {
    QMdiArea *area = ui->mdiArea;
    QMdiSubWindow *active = area->activeSubWindow();
    area->cascadeSubWindows();
    QList<QMdiSubWindow *> stacked;
    QList<QPoint> places;
    QPoint farthest(0, 0);
    for (QMdiSubWindow *sub : area->subWindowList()) {
        if (!sub->isVisible() || sub->isMinimized() || sub->isMaximized())
            continue;
        stacked.append(sub);
        places.append(sub->pos());
        farthest.setX(qMax(farthest.x(), sub->x()));
        farthest.setY(qMax(farthest.y(), sub->y()));
    }
    if (stacked.removeOne(active))
        stacked.append(active);
    for (qsizetype i = 0; i < stacked.size(); ++i) {
        stacked[i]->move(places[i]);
        stacked[i]->raise();
    }
    const QSize areaSize = area->viewport()->size();
    for (QMdiSubWindow *sub : stacked)
        sub->resize(QSize(areaSize.width() - farthest.x(), areaSize.height() - farthest.y())
                        .expandedTo(sub->minimumSizeHint()));
}

// The area restacks each window it is given, and each window it activates, with a walk that
// looks through all of its windows again for each of its windows: over a burst of windows the
// work would grow with the cube of their number. A window that stays on top is only raised, so
// each window is marked as staying on top while the area takes or activates it. The mark is
// taken away without telling the window (which would update its menu's actions, and with them
// every window's shortcuts).
static void notOnTop(QMdiSubWindow *sub) {
    sub->overrideWindowFlags(sub->windowFlags() & ~Qt::WindowStaysOnTopHint);
    for (QAction *action : sub->actions()) // its menu's "Stay on Top"
        if (action->isCheckable())
            action->setChecked(false);
}

QMdiSubWindow *frmMain::AddChildForm(QWidget *form, bool Foreground) {
    QMdiSubWindow *sub = ui->mdiArea->addSubWindow(form, Qt::SubWindow | Qt::WindowStaysOnTopHint);
    notOnTop(sub);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    // Every shortcut added, removed, shown or hidden is looked up among all shortcuts of the
    // program, and each sub-window's menu brings a Close shortcut of its own: over a burst of
    // windows that work would grow with the square of their number. The frame's one Close
    // action serves every window instead; taken away at once, each is found at the end.
    for (QAction *action : sub->actions())
        if (!action->shortcuts().isEmpty())
            action->setShortcuts({});
    sub->resize(520, 340);
    // New windows step down from the top left, each one title bar lower, so that every new
    // window opens inside the frame and none hides another's title.
    const int open = int(ui->mdiArea->subWindowList().size()) - 1;
    const int step = sub->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, sub) + 4;
    const int room = qMax(1, (ui->mdiArea->height() - 120) / step);
    sub->move((open % room) * step, (open % room) * step);
    // The area places each window it is given by the least overlap with every window marked as
    // moved, work that grows with the square of the windows open. Windows here are placed by
    // the frame itself, so they do not count as moved for the area.
    sub->setAttribute(Qt::WA_Moved, false);
    // Each activation walks every window of the area (and raising walks them once more for
    // each), so a burst of a thousand windows activated one by one costs seconds.
    const bool first = m_openedThisTurn++ == 0 && !m_burst;
    if (first) {
        m_burst = true;
        QMetaObject::invokeMethod(this, &frmMain::endOfTurnWithNewWindows, Qt::QueuedConnection);
    }
    if (first && Foreground) {
        sub->show();
    } else if (Foreground) {
        showWithoutActivating(sub);
        m_burstLast = sub;
    } else {
        QMdiSubWindow *current = ui->mdiArea->currentSubWindow();
        showWithoutActivating(sub);
        if (current && current != sub)
            sub->stackUnder(current);
    }
    return sub;
}

// A sub-window becomes active when it is shown, unless it is disabled at that moment.
void frmMain::showWithoutActivating(QMdiSubWindow *sub) {
    sub->setEnabled(false);
    sub->show();
    sub->setEnabled(true);
}

// Runs once per event-loop turn while windows keep being opened; the first turn that opened
// none ends the burst and activates its last window.
void frmMain::endOfTurnWithNewWindows() {
    if (m_openedThisTurn > 0) {
        m_openedThisTurn = 0;
        QMetaObject::invokeMethod(this, &frmMain::endOfTurnWithNewWindows, Qt::QueuedConnection);
        return;
    }
    m_burst = false;
    QMdiSubWindow *last = m_burstLast;
    m_burstLast = nullptr;
    if (last && last->isVisible()) {
        last->overrideWindowFlags(last->windowFlags() | Qt::WindowStaysOnTopHint);
        ui->mdiArea->setActiveSubWindow(last);
        notOnTop(last);
    }
}

// Each new window makes the next paint walk every window of the area once more (and draw the
// title bars in view again), and a burst opens a window or two per event-loop turn: painting
// every turn, or even every frame, would cost more than the windows themselves. While a burst
// goes on, the frame shows its progress BurstPaintMs apart: a paint due sooner waits for a
// later turn (the request is passed on until then). Input is still answered every turn.
bool frmMain::event(QEvent *event) {
    if (event->type() == QEvent::UpdateRequest && m_burst) {
        if (m_lastPaint.isValid() && m_lastPaint.elapsed() < BurstPaintMs) {
            QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest),
                                        Qt::LowEventPriority);
            return true;
        }
        m_lastPaint.start();
    }
    return QMainWindow::event(event);
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

// The Window menu starts with Tile and Cascade; below a separator it lists the open chat
// windows in frame order, checks the active one and activates the one chosen. Each entry lives
// only as long as its window.
void frmMain::rebuildWindowMenu() {
    QMenu *menu = ui->mnuWindow;
    // clear() deletes the entries the menu owns (the window list), not Tile and Cascade, which
    // belong to the frame.
    menu->clear();
    delete menu->findChild<QActionGroup *>(QString(), Qt::FindDirectChildrenOnly);
    menu->addAction(ui->mnuWindowTile);
    menu->addAction(ui->mnuWindowCascade);
    menu->addSeparator();
    const auto windows = ui->mdiArea->subWindowList(QMdiArea::CreationOrder);
    QMdiSubWindow *active = ui->mdiArea->activeSubWindow();
    auto *group = new QActionGroup(menu);
    for (QMdiSubWindow *sub : windows) {
        if (!sub->isVisible() && !sub->isMinimized())
            continue;
        // A window with an unseen line naming the user is marked, and the lines that came in
        // since it was last active are counted.
        const auto *form = qobject_cast<const frmChild *>(sub->widget());
        const QString mark = form && form->Mentioned() ? QStringLiteral("* ") : QString();
        const QString news = form ? form->News() : QString();
        QAction *action = menu->addAction(mark + sub->windowTitle() +
                                          (news.isEmpty() ? news : QStringLiteral(", ") + news));
        action->setCheckable(true);
        action->setChecked(sub == active);
        group->addAction(action);
        connect(action, &QAction::triggered, sub,
                [this, sub] { ui->mdiArea->setActiveSubWindow(sub); });
    }
}
