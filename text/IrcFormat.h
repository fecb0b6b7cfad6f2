#pragma once

#include <QColor>
#include <QString>
#include <QStringView>
#include <vector>

// IRC formatting codes read for drawing: bold 0x02, colour 0x03, hex colour 0x04, reset 0x0F,
// monospace 0x11, reverse 0x16, italic 0x1D, strikethrough 0x1E and underline 0x1F. A line is
// read when it is drawn, never when it arrives; the stored line keeps its codes.
//
// The drawn text has one unit per unit of the stored line, so that positions, selection and
// the caret are the same in both: every unit of a code (the control character and the colour
// digits after it) becomes Hidden, and every other control character its visible symbol.
//
// This is the text model of a chat line, below both the channels (which ask whether a line names
// us, see IrcMentions.h) and the output box (which draws it and finds its links, IrcLinks.h).
namespace IrcFormat {

// WORD JOINER: draws nothing, takes no width, is no break opportunity and is not read aloud.
constexpr char16_t Hidden = 0x2060;

struct Style {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool mono = false;
    bool reverse = false;
    QColor fg; // invalid: the box's own colour
    QColor bg;
    bool isPlain() const { return *this == Style(); }
    bool operator==(const Style &o) const {
        return bold == o.bold && italic == o.italic && underline == o.underline &&
               strike == o.strike && mono == o.mono && reverse == o.reverse && fg == o.fg &&
               bg == o.bg;
    }
    bool operator!=(const Style &o) const { return !(*this == o); }
};

// Units [start, start + length) of the drawn text share a style other than plain.
struct Run {
    qsizetype start = 0;
    qsizetype length = 0;
    Style style;
};

struct Line {
    QString text;          // as drawn: the stored line's length, codes Hidden
    std::vector<Run> runs; // in order, not overlapping; plain text has none
};

// The text a line is drawn as before its codes are read: the same length as the line, one
// symbol per code unit, with every character that could break or hide the line replaced by a
// visible one. C0 controls (TAB, CR and LF included) become their Control Pictures
// U+2400..U+241F, DEL U+2421; C1 controls, U+2028, U+2029, U+FFFC and lone surrogates become
// U+FFFD.
QString displayText(const QString &line);
Line parse(const QString &stored);
// The drawn text without its Hidden units: what is copied.
QString plain(QStringView drawn);
// Colour 0..98 of the common 99-colour table; invalid for 99 (default) and anything else.
QColor colour(int index);
// Whether u is one of the formatting codes above.
bool isCode(char16_t u);

} // namespace IrcFormat
