#include "windows/outputview/OutputFindBar.h"
#include "platform/EscapedErrors.h"

#include "windows/outputview/OutputView.h"

#include <QKeyEvent>
#include <exception>

OutputFindBar::OutputFindBar(OutputView *view)
    : QLineEdit(view->parentWidget() ? view->parentWidget() : view), m_view(view) {
    setObjectName(QStringLiteral("txtFind"));
    setPlaceholderText(tr("Find"));
    setAccessibleName(tr("Find in output"));
    setClearButtonEnabled(true);
    place();
}

void OutputFindBar::place() {
    QRect area = m_view->viewport()->geometry();
    if (parentWidget() != m_view)
        area.translate(m_view->pos());
    const int width = std::min(area.width(), 240);
    setGeometry(area.right() + 1 - width, area.top(), width, sizeHint().height());
}

void OutputFindBar::keyPressEvent(QKeyEvent *event) {
    const int key = event->key();
    if (key == Qt::Key_Escape) {
        // Back to where the user types (the window's input box), else to the output box.
        QWidget *back = m_view->typingTarget() ? m_view->typingTarget() : m_view;
        back->setFocus(Qt::OtherFocusReason);
        m_view->closeFind();
        event->accept();
        return;
    }
    if (key != Qt::Key_Return && key != Qt::Key_Enter) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    Guarded([&] {
        const bool found = m_view->find(text(), event->modifiers().testFlag(Qt::ShiftModifier));
        setStyleSheet(found || text().isEmpty() ? QString()
                                                : QStringLiteral("background: #ffd0d0"));
    });
}
