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

    // Whether a line naming the user came in while the window was not the active one; cleared
    // when the window is activated.
    bool Mentioned() const { return m_mentioned; }
    // Whether this is the frame's active window (standalone: the active top-level window).
    bool IsActive() const;
    void NoteMention();

    // Unloads the form as the program itself: hides it and lets it go once the current event
    // has been handled (the user's own close may still be running).
    void Unload();

    // The font of both boxes: Courier New 9.75 pt, falling back to a monospace font.
    static QFont BoxFont();

signals:
    void QueryUnload(bool &Cancel, int UnloadMode);
    void Resized();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool queryClose();
    bool keepsFocusInOutput(const QFocusEvent *event);
    QWidget *closeSource();

    std::unique_ptr<Ui::frmChild> ui;
    QMdiSubWindow *m_sub = nullptr;
    bool m_unloading = false;
    bool m_mentioned = false;
    bool m_outputChosen = false; // the user put the focus in the output box
};
