#pragma once

#include <QtGlobal>
#include <algorithm>
#include <climits>

// Details shared by the output box's source files.
namespace OutputViewSupport {

// Space between the text and the left and right edges of the viewport.
constexpr int Margin = 3;

// Positions and lengths are qsizetype; Qt's text and accessibility calls take int.
inline int toInt(qsizetype value) {
    return static_cast<int>(std::clamp<qsizetype>(value, 0, INT_MAX));
}

} // namespace OutputViewSupport
