#pragma once

#include <QStringView>

#include <array>

// One received line read by the IRC message grammar (RFC 2812, 2.3.1):
//     [ ":" prefix SPACE ] command *14( SPACE middle ) [ SPACE [ ":" ] trailing ]
// The prefix runs up to the first blank and may hold colons (an IPv6 host); each parameter is
// one blank away from the one before; the last may be a trailing parameter written after " :",
// which keeps its blanks and colons. After fourteen parameters the rest of the line is the
// fifteenth, colon or not.
//
// Everything is a view into the line given to Parse, which must outlive the result. A line that
// does not fit the grammar (no command, an empty prefix, two blanks in a row, a blank at the end)
// gives Valid() false.
class MessageLine {
public:
    static constexpr int MaxParams = 15;

    static MessageLine Parse(QStringView line);

    bool Valid() const { return m_valid; }
    bool HasPrefix() const { return !m_prefix.isNull(); }
    QStringView Prefix() const { return m_prefix; }
    QStringView Command() const { return m_command; }
    int ParamCount() const { return m_count; }
    // Parameter i, from 0; an empty view past the last one.
    QStringView Param(int i) const { return i >= 0 && i < m_count ? m_params[i] : QStringView(); }
    // Whether the last parameter was written as a trailing parameter, after " :".
    bool HasTrailing() const { return m_trailing; }

private:
    QStringView m_prefix;
    QStringView m_command;
    std::array<QStringView, MaxParams> m_params{};
    int m_count = 0;
    bool m_trailing = false;
    bool m_valid = false;
};
