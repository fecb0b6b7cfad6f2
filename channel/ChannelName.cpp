#include "channel/ChannelName.h"

#include <QChar>

namespace {

// Reads the characters of a name one by one, a surrogate pair as one, each in upper case.
class UpperReader {
public:
    explicit UpperReader(QStringView text) : m_p(text.utf16()), m_end(m_p + text.size()) {}
    bool atEnd() const { return m_p == m_end; }
    char32_t next() {
        const char16_t u = *m_p++;
        if (u < 0x80) // the usual name: ASCII, only a to z change
            return u >= u'a' && u <= u'z' ? char32_t(u - (u'a' - u'A')) : char32_t(u);
        if (QChar::isHighSurrogate(u) && m_p != m_end && QChar::isLowSurrogate(*m_p))
            return QChar::toUpper(QChar::surrogateToUcs4(u, *m_p++));
        return QChar::toUpper(char32_t(u));
    }

private:
    const char16_t *m_p;
    const char16_t *const m_end;
};

} // namespace

namespace ChannelName {

size_t Hash(QStringView name) {
    quint64 h = 0xcbf29ce484222325ull; // FNV-1a over the upper-case characters
    for (UpperReader r(name); !r.atEnd();)
        h = (h ^ r.next()) * 0x100000001b3ull;
    return size_t(h);
}

bool Same(QStringView a, QStringView b) {
    UpperReader x(a);
    UpperReader y(b);
    while (!x.atEnd() && !y.atEnd())
        if (x.next() != y.next())
            return false;
    return x.atEnd() && y.atEnd();
}

} // namespace ChannelName
