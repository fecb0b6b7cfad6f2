#include "windows/Child.h"

#include "app/Application.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "connection/PastedLines.h"
#include "platform/EscapedErrors.h"
#include "platform/Utilities.h"
#include "windows/Announcer.h"
#include "windows/Childs.h"
#include "windows/PasteQuestion.h"
#include "windows/ScreenReader.h"
#include "windows/frmChild.h"
#include "windows/outputview/OutputView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRegularExpression>

namespace {
// The height the layout gives the input box: as little as the layout's 12 pixels when the font
// fits, otherwise what the font needs, within the 24 pixels left under the output box.
int inputHeight(const QLineEdit *input) {
    return qBound(12, input->sizeHint().height(), 24);
}

bool isLineBreakCharacter(const QString &text) {
    return text.contains(QChar(13)) || text.contains(QChar(10));
}
} // namespace

Child::Child(frmMain *frame, bool Foreground) {
    pstrInstanceKey = Utilities::NewInstanceKey();
    plngIndex = -1;
    pobjHistory.clear();
    pobjWindow = new frmChild(frame, Foreground);
    // Kept here only: the form shows no caption until the collection numbers the window, so
    // that the frame lays out and shows the new window without a title to measure.
    pstrCaption = QStringLiteral("%1 - new window").arg(plngIndex);
    pobjInput = pobjWindow->txtInput();
    pobjOutput = pobjWindow->txtOutput();
    pobjAnnouncer = new Announcer(pobjWindow);
    pobjInput->installEventFilter(this);
    connect(pobjInput, &QLineEdit::textChanged, this, &Child::noteTyped);
    connect(pobjOutput, &OutputView::report, this, &Child::Echo);
    // Said once the output's own accessibility notices of the same turn have gone out.
    connect(pobjOutput, &OutputView::announce, pobjAnnouncer, &Announcer::announceNow,
            Qt::QueuedConnection);
    connect(pobjWindow, &frmChild::CameForward, this, &Child::cameForward);
    connect(pobjWindow, &frmChild::QueryUnload, this, &Child::pobjWindow_QueryUnload);
    connect(pobjWindow, &frmChild::Resized, this, &Child::pobjWindow_Resize);
    pobjWindow_Resize();
}

Child::~Child() {
    if (pobjWindow) {
        pobjOutput = nullptr;
        pobjInput = nullptr;
        pobjWindow->disconnect(this);
        pobjWindow->Unload();
    }
    pobjParent = nullptr;
}

QString Child::Caption() const {
    return pobjWindow ? pstrCaption : QString();
}

bool Child::CloseWindow(bool User) {
    if (plngIndex != 1)
        return Delete(User);
    Echo(QStringLiteral("Attempt to close status window!"));
    return false;
}

bool Child::Delete(bool User) {
    if (pblnDeleting)
        return false;
    // The collection lets go of this window below; stay alive until the call is over.
    auto self = shared_from_this();
    pblnDeleting = true;
    struct Reset {
        bool &flag;
        ~Reset() { flag = false; }
    } reset{pblnDeleting};

    pobjOutput = nullptr;
    pobjInput = nullptr;
    if (pobjWindow) {
        pobjWindow->disconnect(this);
        pobjWindow->Unload();
        pobjWindow = nullptr;
    }
    if (pobjParent) {
        pobjParent->RemoveAt(plngIndex);
        pobjParent = nullptr;
    }
    plngIndex = -1;
    emit CloseWindowEvent(User);
    return true;
}

// Appends one line. The view follows the new line only when the caret was at the end;
// otherwise the user's selection and reading position stay where they are. Lines are separated,
// never introduced, by a line break: an empty text into an empty box leaves it empty.
void Child::Echo(const QString &Output) {
    echo(Output, Output, Kind::Plain);
}

void Child::echo(const QString &Output, const QString &Spoken, Kind kind) {
    if (!pobjOutput || !pobjWindow || (Output.isEmpty() && pobjOutput->textLength() == 0))
        return;
    pobjOutput->appendFollowing(Output);
    pobjWindow->NoteLine(kind == Kind::Mention);
    if (!ScreenReader::listening() || !pobjAnnouncer)
        return;
    if (pobjWindow->IsActive())
        pobjAnnouncer->announce(Spoken);
    else if (kind != Kind::Plain) // the name as the caption shows it, after the window's number
        pobjAnnouncer->announce(Caption().section(QStringLiteral(" - "), -1) +
                                QStringLiteral(": ") + Spoken);
}

void Child::EchoMention(const QString &Output, const QString &Spoken) {
    echo(Output, Spoken.isNull() ? Output : Spoken, Kind::Mention);
    if (pobjOutput)
        pobjOutput->markLastLineAsMention();
}

void Child::EchoAnswer(const QString &Output, const QString &Spoken) {
    echo(Output, Spoken.isNull() ? Output : Spoken, Kind::Answer);
}

// After the focus has moved into the window (a later turn), so that a screen reader says this
// after the focused box, not before it.
void Child::cameForward(const QString &News) {
    if (News.isEmpty() || !pobjAnnouncer)
        return;
    const QString text = Caption() + QStringLiteral(", ") + News;
    Announcer *announcer = pobjAnnouncer;
    QMetaObject::invokeMethod(
        announcer, [announcer, text] { announcer->announceNow(text); }, Qt::QueuedConnection);
}

void Child::ClearOutput() {
    if (pobjOutput)
        pobjOutput->clear();
}

void Child::EchoEntered(const QString &Line) {
    if (pobjOutput)
        pobjOutput->appendFollowing(Line);
}

void Child::Hide() {
    if (pobjWindow)
        pobjWindow->SetVisible(false);
}

void Child::Show() {
    if (pobjWindow)
        pobjWindow->SetVisible(true);
}

bool Child::Visible() const {
    return pobjWindow && pobjWindow->IsVisible();
}

void Child::SetVisible(bool NewValue) {
    if (pobjWindow)
        pobjWindow->SetVisible(NewValue);
}

// A window whose number stays the same keeps its caption and accessible names untouched; the
// status window takes its default command back in any case.
void Child::SetIndex(qint32 i) {
    const bool renumbered = i != plngIndex;
    plngIndex = i;
    if (i == 1)
        pstrDefaultCommand = QStringLiteral("QUOTE");
    if (renumbered)
        updateCaption();
}

void Child::SetContents(const QString &Contents) {
    if (Contents == pstrContents)
        return;
    pstrContents = Contents;
    updateCaption();
}

bool Child::IsCurrent() const {
    const QMdiSubWindow *sub = pobjWindow ? pobjWindow->SubWindow() : nullptr;
    return sub && sub->mdiArea() && sub->mdiArea()->currentSubWindow() == sub;
}

void Child::Activate() {
    QMdiSubWindow *sub = pobjWindow ? pobjWindow->SubWindow() : nullptr;
    if (sub && sub->mdiArea())
        sub->mdiArea()->setActiveSubWindow(sub);
}

// The caption, and with it the Window menu's entry and the accessible names of both boxes. A
// window not yet numbered keeps its contents for the caption it gets when it is; each change of
// a shown caption is measured for the title bar and announced to accessibility tools, so an
// unchanged one is left alone.
void Child::updateCaption() {
    if (!pobjWindow || plngIndex < 1)
        return;
    const QString contents = pstrContents.isEmpty() ? QStringLiteral("unused") : pstrContents;
    const QString caption = plngIndex == 1 ? QStringLiteral("1 - status")
                                           : QStringLiteral("%1 - %2").arg(plngIndex).arg(contents);
    if (caption == pstrCaption)
        return;
    pstrCaption = caption;
    pobjWindow->SetCaption(caption);
    pobjInput->setAccessibleName(QStringLiteral("Input, %1").arg(caption));
    pobjOutput->setAccessibleName(QStringLiteral("Output, %1").arg(caption));
}

void Child::SetParent(Childs *parent) {
    if (!pobjParent)
        pobjParent = parent;
}

bool Child::eventFilter(QObject *watched, QEvent *event) {
    if (watched != pobjInput || !pobjInput)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        bool handled = false;
        Guarded([&] {
            handled =
                key->matches(QKeySequence::Paste) ? pasteLong() : pobjInput_KeyDown(key->key());
        });
        // A carriage return or line feed typed as a character never reaches the box.
        return handled || isLineBreakCharacter(key->text());
    }
    return QObject::eventFilter(watched, event);
}

bool Child::pobjInput_KeyDown(int keyCode) {
    switch (keyCode) {
    case Qt::Key_Up:
        browseUp();
        return true;
    case Qt::Key_Down:
        browseDown();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        enterLine();
        return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (pobjOutput)
            pobjOutput->scrollPage(keyCode == Qt::Key_PageUp ? -1 : 1);
        return true;
    default:
        return false;
    }
}

void Child::browseUp() {
    if (pobjHistory.isEmpty())
        return;
    if (plngHistoryPos == 0) {
        pstrSavedInput = pobjInput->text();
        plngSavedCaret = pobjInput->selectionStart() >= 0
                             ? pobjInput->selectionStart() + pobjInput->selectedText().size()
                             : pobjInput->cursorPosition();
    }
    --plngHistoryPos;
    const qint32 count = static_cast<qint32>(pobjHistory.size());
    if (-plngHistoryPos > count)
        plngHistoryPos = -count;
    showHistoryEntry();
}

void Child::browseDown() {
    if (pobjHistory.isEmpty())
        return;
    if (plngHistoryPos == -1) {
        pobjInput->setText(pstrSavedInput);
        pobjInput->setCursorPosition(plngSavedCaret);
    }
    ++plngHistoryPos;
    if (plngHistoryPos >= 0) {
        plngHistoryPos = 0;
        return;
    }
    showHistoryEntry();
}

void Child::showHistoryEntry() {
    const qint32 count = static_cast<qint32>(pobjHistory.size());
    const QString &entry = pobjHistory.at(count + plngHistoryPos);
    pobjInput->setText(entry);
    pobjInput->setCursorPosition(static_cast<int>(entry.size()));
}

void Child::noteTyped(const QString &text) {
    if (!isLineBreakCharacter(text))
        pstrTyped = text;
}

// One line is entered as typed: a command after a slash, otherwise text after the window's
// default command. A paste of several lines is text, however its lines begin.
void Child::enterLine() {
    const QString text = pobjInput->text();
    if (PastedLines::Several(text)) {
        qsizetype typed = 0;
        while (typed < pstrTyped.size() && typed < text.size() && pstrTyped[typed] == text[typed])
            ++typed;
        return enterPaste(text, typed, pstrTyped);
    }
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = text.split(lineBreak, Qt::SkipEmptyParts);
    if (lines.isEmpty()) {
        QApplication::beep();
        return;
    }
    plngHistoryPos = 0;
    pobjInput->clear();
    // The user turns back to the conversation: the view follows from the echo of this line on.
    if (pobjOutput)
        pobjOutput->followEnd();
    // The line may close this very window; keep it alive until the command is done.
    auto self = shared_from_this();
    enter(lines.first());
}

// A long paste is sent only when the user says so; Cancel leaves the input box as it was before
// the paste. The line the user had started before pasting into it is entered as typed, the rest
// goes with the default command.
void Child::enterPaste(const QString &text, qsizetype typed, const QString &before) {
    const qsizetype lines = PastedLines::Count(text);
    Application *app = pobjParent ? pobjParent->Parent() : nullptr;
    if (!app)
        return;
    // The window may close while the question is open (the server parts us): stay alive, and
    // send nothing then.
    auto self = shared_from_this();
    if (lines > PasteQuestion::QuietLines) {
        const bool send = PasteQuestion::Ask(pobjWindow, lines, pasteTarget(),
                                             app->Connections()->Item(1)->Pacer().IntervalMs());
        // The keyboard comes back to the input box, which the question took it from.
        if (pobjInput) {
            pobjInput->activateWindow();
            pobjInput->setFocus();
        }
        if (!pobjParent)
            return;
        if (!send) {
            if (pobjInput && pobjInput->text() != before) {
                pobjInput->setText(before);
                pobjInput->setCursorPosition(int(typed));
            }
            return;
        }
    }
    plngHistoryPos = 0;
    if (pobjInput)
        pobjInput->clear();
    QString rest = text;
    if (typed > 0) {
        static const QRegularExpression lineBreak(QStringLiteral("[\r\n]"));
        const qsizetype end = text.indexOf(lineBreak);
        enter(text.left(end));
        rest = text.mid(end);
        if (!pobjParent) // the line closed this window
            return;
    }
    app->ProcessPaste(rest, plngIndex);
}

// A paste of many lines is taken before the input box lays it out (which alone takes seconds for
// a long one): the question comes at once, and the lines go without Return. A shorter paste
// lands in the box, to be entered with Return.
bool Child::pasteLong() {
    const QString clip = QGuiApplication::clipboard()->text();
    if (PastedLines::Count(clip) <= PasteQuestion::QuietLines)
        return false;
    const QString before = pobjInput->text();
    const qsizetype start =
        pobjInput->hasSelectedText() ? pobjInput->selectionStart() : pobjInput->cursorPosition();
    const qsizetype end =
        pobjInput->hasSelectedText() ? pobjInput->selectionEnd() : pobjInput->cursorPosition();
    enterPaste(before.left(start) + clip + before.mid(end), start, before);
    return true;
}

QString Child::pasteTarget() const {
    if (pstrDefaultCommand.startsWith(QStringLiteral("MSG "), Qt::CaseInsensitive))
        return pstrDefaultCommand.mid(4);
    if (pstrDefaultCommand.compare(QStringLiteral("QUOTE"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("the server");
    return QStringLiteral("window %1").arg(plngIndex);
}

void Child::enter(const QString &t) {
    pobjHistory.append(t);
    if (pobjHistory.size() > HistoryLimit)
        pobjHistory.removeFirst();

    QString command;
    if (t.startsWith(QLatin1Char('/')))
        command = t.mid(1);
    else if (!pstrDefaultCommand.isEmpty())
        command = pstrDefaultCommand + QLatin1Char(' ') + t;
    else
        command = t;

    EchoEntered(t); // the user's own line: not said to a screen reader
    if (pobjParent && pobjParent->Parent())
        pobjParent->Parent()->ProcessCommand(command, true, plngIndex);
}

void Child::pobjWindow_QueryUnload(bool &Cancel, int UnloadMode) {
    if (UnloadMode == 1)
        return;
    auto self = shared_from_this();
    Cancel = !CloseWindow(true);
}

void Child::pobjWindow_Resize() {
    if (!pobjWindow || !pobjInput || !pobjOutput)
        return;
    const int state = pobjWindow->WindowState();
    if (state != 0 && state != 2)
        return;
    const int W = pobjWindow->width();
    const int H = pobjWindow->height();
    const int h = H - 16 - 8;
    if (W >= 1 && h >= 1)
        pobjOutput->setGeometry(0, 0, W, h);
    if (W >= 1)
        pobjInput->setGeometry(0, h, W, inputHeight(pobjInput));
}
