#pragma once

#include <QString>

class QWidget;

// Before a long paste goes, the user is asked, in a small dialog a screen reader reads: how many
// lines, where they go and how long the pacing takes. Cancel is the default, and Escape cancels.
namespace PasteQuestion {
// Lines up to this many go without a question.
constexpr qsizetype QuietLines = 5;
// "Send 120 lines to #a? At one line every 2 s this takes about 4 minutes."
QString Text(qsizetype lines, const QString &where, int intervalMs);
// True when the user chose Send. The question belongs to parent's top-level window, which stays
// while it is open whatever happens to parent.
bool Ask(QWidget *parent, qsizetype lines, const QString &where, int intervalMs);
} // namespace PasteQuestion
