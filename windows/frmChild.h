#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmChild;
}
class QLineEdit;
class QMdiSubWindow;
class OutputView;
class frmMain;

// The form of one chat window: an output box above a one-line input box. It lives in a
// sub-window of the main frame (or on its own when there is no frame).
class frmChild : public QWidget {
    Q_OBJECT
public:
    // Creates the form and loads it into the frame, where it is displayed at once (in the
    // background when Foreground is false).
    explicit frmChild(frmMain *frame, bool Foreground = true);
    ~frmChild() override;

    QLineEdit *txtInput() const;
    OutputView *txtOutput() const;

    void SetCaption(const QString &caption);
    QString Caption() const;
    // 0 normal, 1 minimized, 2 maximized.
    int WindowState() const;
    bool IsVisible() const;
    void SetVisible(bool visible);

    // The sub-window that frames this form in the main window; null when standalone.
    QMdiSubWindow *SubWindow() const { return m_sub; }

    // Whether a line naming the user came in while the window was not the active one, and what
    // came in meanwhile in words ("5 new lines, 1 mention"; empty when nothing did). Both are
    // cleared when the window becomes active.
    bool Mentioned() const { return m_newMentions > 0; }
    QString News() const;
    // Whether this is the frame's active window (standalone: the active top-level window).
    bool IsActive() const;
    // A line was added to the output: counted as news while the window is not active.
    void NoteLine(bool mention) {
        if (!m_active) {
            ++m_newLines;
            m_newMentions += mention ? 1 : 0;
        }
    }

    // Unloads the form as the program itself: hides it and lets it go once the current event
    // has been handled (the user's own close may still be running).
    void Unload();

    // The font of both boxes: Courier New 9.75 pt, falling back to a monospace font.
    static QFont BoxFont();

signals:
    void QueryUnload(bool &Cancel, int UnloadMode);
    void Resized();
    // The window became active; News is what came in since it last was (see News()).
    void CameForward(const QString &News);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool queryClose();
    bool keepsFocusInOutput(const QFocusEvent *event);
    QWidget *closeSource();
    void activeChanged(bool active);

    std::unique_ptr<Ui::frmChild> ui;
    QMdiSubWindow *m_sub = nullptr;
    bool m_unloading = false;
    bool m_active = false;
    qint64 m_newLines = 0;
    qint64 m_newMentions = 0;
    bool m_outputChosen = false; // the user put the focus in the output box
};
