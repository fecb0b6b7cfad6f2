#pragma once

#include "windows/frmChild.h"
#include "windows/outputview/OutputView.h"

#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

class Announcer;
class Childs;
class frmChild;
class frmMain;
class OutputView;
class QLineEdit;

// One chat window: an output box above a one-line input box, a history of the lines typed into
// it, and the guard around its close. Its number (Index) is its position in the window
// collection; window 1 is the status window.
class Child : public QObject, public std::enable_shared_from_this<Child> {
    Q_OBJECT
public:
    // A window opened in the background leaves the active window and the focus where they are.
    explicit Child(frmMain *frame, bool Foreground = true);
    ~Child() override;

    bool CloseWindow(bool User = false);
    QString DefaultCommand() const { return pstrDefaultCommand; }
    void SetDefaultCommand(const QString &NewValue) { pstrDefaultCommand = NewValue; }
    bool Delete(bool User = false);
    void Echo(const QString &Output);
    // Echo of a line that names the user (or a private message to the user): drawn
    // highlighted, and the window is marked in the frame's window list until it is activated.
    // Said to a screen reader even when the window is not the active one, after the window's
    // name. Spoken, when given, is what is said instead of the line.
    void EchoMention(const QString &Output, const QString &Spoken = QString());
    // Echo of a line that answers the user (a server's reply or error, the connection's own
    // report): said like a mention, after the window's name, when another window is active.
    void EchoAnswer(const QString &Output, const QString &Spoken = QString());
    // A line the user entered, as it goes: shown in the window, not said to a screen reader.
    void EchoEntered(const QString &Line);
    void Hide();
    // Empties the output box; the history of typed lines stays.
    void ClearOutput();
    // What the window holds, shown after its number in its caption and its boxes' accessible
    // names ("2 - #room"); empty for a plain window ("2 - unused"). The status window stays
    // "1 - status".
    void SetContents(const QString &Contents);
    // Whether this is the frame's current window, and making it so (with the keyboard focus).
    bool IsCurrent() const;
    void Activate();
    qint32 Index() const { return plngIndex; }
    Childs *Parent() const { return pobjParent; }
    void Show();
    bool Visible() const;
    void SetVisible(bool NewValue);

    // For the window collection only.
    void SetIndex(qint32 i);
    void SetParent(Childs *parent);
    QString InstanceKey() const { return pstrInstanceKey; }

    // The form, while it exists (tests and the frame's window list look at it).
    frmChild *Form() const { return pobjWindow; }
    QString Caption() const;
    static constexpr int HistoryLimit = 50;
    const QStringList &History() const { return pobjHistory; }

signals:
    // Raised from inside Delete, once the window is gone.
    void CloseWindowEvent(bool User);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Returns true when the key was handled (swallowed).
    bool pobjInput_KeyDown(int keyCode);
    void pobjWindow_QueryUnload(bool &Cancel, int UnloadMode);
    void pobjWindow_Resize();
    void browseUp();
    void browseDown();
    void showHistoryEntry();
    void enterLine();
    // Text holds several lines; the first typed characters were in the box before the paste,
    // which held before.
    void enterPaste(const QString &text, qsizetype typed, const QString &before);
    bool pasteLong();
    // Where a paste in this window goes, as the question before a long one names it.
    QString pasteTarget() const;
    void noteTyped(const QString &text);
    void updateCaption();
    void enter(const QString &t);
    enum class Kind { Plain, Answer, Mention };
    // Appends a line; a screen reader hears it (Spoken) in the active window, or a mention or an
    // answer, after the window's name, in any other.
    void echo(const QString &Output, const QString &Spoken, Kind kind);
    // The window became active: the screen reader hears its caption and what came in since.
    void cameForward(const QString &News);

    bool pblnDeleting = false;
    QString pstrDefaultCommand;
    QString pstrContents;
    QString pstrCaption;
    QStringList pobjHistory;
    qint32 plngHistoryPos = 0;
    qint32 plngIndex = -1;
    QString pstrSavedInput;
    QString pstrTyped; // the input box's text as it was before a paste brought line breaks
    qint32 plngSavedCaret = 0;
    Childs *pobjParent = nullptr;
    QString pstrInstanceKey;
    QPointer<QLineEdit> pobjInput;
    QPointer<frmChild> pobjWindow;
    QPointer<OutputView> pobjOutput;
    QPointer<Announcer> pobjAnnouncer;
};
