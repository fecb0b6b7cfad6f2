#include "windows/frmChild.h"

#include "platform/EscapedErrors.h"
#include "ui_frmChild.h"
#include "windows/frmMain.h"
#include "windows/outputview/OutputView.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <limits>

frmChild::frmChild(frmMain *frame, bool Foreground) : ui(std::make_unique<Ui::frmChild>()) {
    ui->setupUi(this);
    const QFont font = BoxFont();
    ui->txtInput->setFont(font);
    ui->txtOutput->setFont(font);
    // No limit on what may be typed or pasted: a long line goes out split into several.
    ui->txtInput->setMaxLength(std::numeric_limits<int>::max());
    QPalette pal = ui->txtOutput->palette();
    pal.setColor(QPalette::Base, Qt::white);
    ui->txtOutput->setPalette(pal);
    setFocusProxy(ui->txtInput);
    ui->txtOutput->setTypingTarget(ui->txtInput);
    ui->txtInput->installEventFilter(this);  // Ctrl+F there finds in the output
    ui->txtOutput->installEventFilter(this); // Tab there goes back to the input
    if (frame) {
        m_sub = frame->AddChildForm(this, Foreground);
        connect(m_sub, &QMdiSubWindow::windowStateChanged, this,
                [this](Qt::WindowStates, Qt::WindowStates now) {
                    activeChanged(now.testFlag(Qt::WindowActive));
                });
    } else {
        show();
    }
    m_active = !m_sub || IsActive();
    // A close of the window (its sub-window in the frame) asks the owner first; the close
    // itself decides nothing.
    closeSource()->installEventFilter(this);
}

frmChild::~frmChild() = default;

QLineEdit *frmChild::txtInput() const {
    return ui->txtInput;
}
OutputView *frmChild::txtOutput() const {
    return ui->txtOutput;
}

bool frmChild::IsActive() const {
    return m_sub ? m_sub->mdiArea() && m_sub->mdiArea()->activeSubWindow() == m_sub
                 : isActiveWindow();
}

QString frmChild::News() const {
    if (m_newLines == 0)
        return {};
    QString news = m_newLines == 1 ? tr("1 new line") : tr("%1 new lines").arg(m_newLines);
    if (m_newMentions > 0)
        news += m_newMentions == 1 ? tr(", 1 mention") : tr(", %1 mentions").arg(m_newMentions);
    return news;
}

void frmChild::activeChanged(bool active) {
    if (active == m_active)
        return;
    m_active = active;
    if (!active)
        return;
    const QString news = News();
    m_newLines = m_newMentions = 0;
    Guarded([&] { emit CameForward(news); });
}

QFont frmChild::BoxFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setPointSizeF(9.75);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::Monospace, QFont::PreferMatch);
    font.setFixedPitch(true);
    return font;
}

// In the frame the sub-window's title is the caption; the form's own stays unset.
void frmChild::SetCaption(const QString &caption) {
    if (m_sub)
        m_sub->setWindowTitle(caption);
    else
        setWindowTitle(caption);
}

QString frmChild::Caption() const {
    return m_sub ? m_sub->windowTitle() : windowTitle();
}

int frmChild::WindowState() const {
    const Qt::WindowStates state = m_sub ? m_sub->windowState() : windowState();
    if (state & Qt::WindowMinimized)
        return 1;
    if (state & Qt::WindowMaximized)
        return 2;
    return 0;
}

bool frmChild::IsVisible() const {
    return m_sub ? m_sub->isVisible() : isVisible();
}

void frmChild::SetVisible(bool visible) {
    if (m_sub)
        m_sub->setVisible(visible);
    setVisible(visible);
}

void frmChild::Unload() {
    m_unloading = true;
    if (m_sub) {
        m_sub->hide();
        m_sub->deleteLater();
    } else {
        hide();
        deleteLater();
    }
}

QWidget *frmChild::closeSource() {
    return m_sub ? static_cast<QWidget *>(m_sub) : this;
}

// Asks the owner; the close goes ahead only through the owner's own unload.
bool frmChild::queryClose() {
    bool cancel = false;
    Guarded([&] { emit QueryUnload(cancel, 0); });
    return cancel;
}

// The output box keeps the focus only when the user put it there in this window (Tab, a click,
// its context menu), or gets it back when the frame is activated again after that. A window
// that comes forward (Ctrl+Tab, the Window menu, a click on its title, a join) gives the focus
// to its input box, where the keys are meant to go.
bool frmChild::keepsFocusInOutput(const QFocusEvent *event) {
    switch (event->reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::MouseFocusReason:
    case Qt::PopupFocusReason:
        return m_outputChosen = true;
    case Qt::ActiveWindowFocusReason:
        return m_outputChosen;
    default:
        return m_outputChosen = false;
    }
}

bool frmChild::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ui->txtInput && event->type() == QEvent::FocusIn)
        m_outputChosen = false;
    if (watched == ui->txtOutput && event->type() == QEvent::FocusIn &&
        !keepsFocusInOutput(static_cast<QFocusEvent *>(event))) {
        ui->txtInput->setFocus(Qt::OtherFocusReason);
        return true;
    }
    // Tab and Shift+Tab go from one box to the other, never out of the window.
    if ((watched == ui->txtInput || watched == ui->txtOutput) &&
        event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            !(key->modifiers() & Qt::ControlModifier)) {
            QWidget *other =
                watched == ui->txtInput ? static_cast<QWidget *>(ui->txtOutput) : ui->txtInput;
            other->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    if (watched == ui->txtInput && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Find)) {
        Guarded([&] { ui->txtOutput->openFind(); });
        return true;
    }
    if (watched == closeSource() && event->type() == QEvent::Close && !m_unloading) {
        queryClose();
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmChild::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    Guarded([&] { emit Resized(); });
}
