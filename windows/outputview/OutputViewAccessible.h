#pragma once

#include <QAccessibleWidget>

class AccessibleText;
class OutputView;

// What screen readers see of an output box: read-only multi-line text whose lines, caret and
// selection they can read. Offsets are those of the text a sighted user reads (AccessibleText); a
// "line" is a stored line with its LF, whatever the wrapping on screen.
class OutputViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit OutputViewAccessible(OutputView *view);

    // Registers the factory that gives every OutputView this interface; safe to call repeatedly.
    static void install();

    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int *startOffset, int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int *startOffset, int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    OutputView *view() const;
    const AccessibleText &read() const;
};
