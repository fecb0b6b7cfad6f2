#include "connection/LineDecoder.h"

#include <QStringDecoder>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {
// Windows-1252 differs from Latin-1 in 0x80..0x9F; the five bytes it leaves undefined keep their
// Latin-1 (C1 control) meaning.
constexpr char16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Widens line into out while it is ASCII; whether all of it was. One pass does both.
bool widenAscii(QByteArrayView line, char16_t *out) {
    const char *p = line.data();
    const qsizetype n = line.size();
    qsizetype i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        if (_mm_movemask_epi8(bytes))
            return false;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
    }
#endif
    for (; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(p[i]);
        if (byte >= 0x80)
            return false;
        out[i] = byte;
    }
    return true;
}

} // namespace

namespace LineDecoder {

QString DecodeWindows1252(QByteArrayView line) {
    QString text(line.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        out[i] = (byte >= 0x80 && byte < 0xA0) ? QChar(Windows1252High[byte - 0x80]) : QChar(byte);
    }
    return text;
}

QString Decode(QByteArrayView line) {
    if (!line.data())
        return QString();
    QString ascii(line.size(), Qt::Uninitialized);
    if (widenAscii(line, reinterpret_cast<char16_t *>(ascii.data())))
        return ascii;
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                    QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8.decode(line);
    if (!utf8.hasError())
        return text;
    return DecodeWindows1252(line);
}

} // namespace LineDecoder
