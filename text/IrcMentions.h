#pragma once

#include <QStringView>

namespace IrcFormat {

// Whether text (a stored line, codes and all) names nick as a whole word (letters, digits and
// the nick characters - _ [ ] \ ` ^ { } | around it end the word), without regard to letter
// case. The cost is linear in the lengths of both.
bool mentions(QStringView text, QStringView nick);

// The longest nick taken as ours, in UTF-8 bytes: no server gives one longer than a whole
// protocol line.
constexpr qsizetype MaxNickBytes = 512;
bool fitsNickLimit(QStringView nick);

} // namespace IrcFormat
