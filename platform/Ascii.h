#pragma once

#include <QByteArrayView>
#include <QStringView>
#include <cstdint>
#include <cstring>

// Fast tests for pure ASCII text, eight bytes at a time: chat lines are mostly ASCII, and the
// hot paths take a shortcut when they are.
namespace Ascii {

inline bool IsAscii(QByteArrayView bytes) {
    const char *p = bytes.data();
    qsizetype n = bytes.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ull)
            return false;
    }
    for (; n > 0; ++p, --n)
        if (static_cast<unsigned char>(*p) >= 0x80)
            return false;
    return true;
}

inline bool IsAscii(QStringView text) {
    const char16_t *p = text.utf16();
    qsizetype n = text.size();
    for (; n >= 4; p += 4, n -= 4) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0xFF80FF80FF80FF80ull)
            return false;
    }
    for (; n > 0; ++p, --n)
        if (*p >= 0x80)
            return false;
    return true;
}

} // namespace Ascii
