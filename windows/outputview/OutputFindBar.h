#pragma once

#include <QLineEdit>

class OutputView;

// The find field over an output box: Return finds the next match, Shift+Return the previous
// one, Escape closes the field and gives the focus back to the window's input box (or, without
// one, to the output box). It is the box's sibling, shown over it: a screen reader that sees a
// field inside the output box reads the box and its current line before the field's name.
class OutputFindBar : public QLineEdit {
    Q_OBJECT
public:
    explicit OutputFindBar(OutputView *view);

    // Places the field at the top right of the box's viewport.
    void place();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    OutputView *m_view;
};
