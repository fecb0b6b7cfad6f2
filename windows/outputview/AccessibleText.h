#pragma once

#include <QString>
#include <deque>

class OutputView;

// The text of an output box as a screen reader and a braille display get it: what a sighted
// user reads. Each line is its drawn text without the hidden formatting codes (and their colour
// digits), followed by one LF; other control characters stay the symbols drawn for them.
// Offsets in that text map to the box's positions and back.
//
// Lines holding formatting codes are noted, with a running count of their hidden units, the
// first time the text is asked for and from then on as lines are appended, so that a box no
// screen reader reads costs nothing and a lookup is a binary search.
class AccessibleText {
public:
    explicit AccessibleText(const OutputView &view) : m_view(view) {}

    // The box was emptied.
    void clear();
    // Line index was just appended to the box.
    void appended(qsizetype index, const QString &line);
    // The box dropped its oldest lines: every line kept moved `lines` toward the front, and its
    // first line is now the note of the drop. What was learnt about the lines kept stays.
    void dropped(qsizetype lines);

    qsizetype length() const;
    // The offset of a position of the box; a position inside a hidden code gives the offset of
    // the next character read, one inside a line break that of the LF, or the offset after it
    // when the position ends a range (the break is then part of the range, as when copied).
    qsizetype offsetOf(qsizetype position, bool rangeEnd = false) const;
    // The position of the box where the character at offset is drawn.
    qsizetype positionOf(qsizetype offset) const;
    // Offset of a line's first character, and the line holding an offset.
    qsizetype lineStart(qsizetype line) const;
    qsizetype lineAt(qsizetype offset) const;
    // A line as read, without its LF.
    QString lineText(qsizetype line) const;
    // The text from start to end (offsets, clamped).
    QString text(qsizetype start, qsizetype end) const;

    // Units of a stored line that are drawn as nothing: formatting codes and their digits.
    static qsizetype hiddenUnits(const QString &line);
    // A stored line as read: drawn, without its hidden units.
    static QString readable(const QString &stored);

private:
    // Lines are counted from the first line the box ever held, hidden units over all of them,
    // so that a drop changes no mark: it removes those of the lines that went and moves the base.
    struct Mark {
        qsizetype line;
        qsizetype hiddenThrough; // hidden units in lines 0..line
    };
    void scanTo(qsizetype lines) const;
    qsizetype hiddenBefore(qsizetype line) const;

    const OutputView &m_view;
    mutable std::deque<Mark> m_marks; // lines holding codes, in order
    qsizetype m_linesGone = 0;        // lines dropped before the box's first line
    qsizetype m_hiddenGone = 0;       // hidden units in them
    mutable qsizetype m_scanned = 0;  // lines looked at so far
    mutable bool m_used = false;      // someone has read the text
};
