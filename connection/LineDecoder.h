#pragma once

#include <QByteArrayView>
#include <QString>

// Turns one received line into text: UTF-8 when the bytes are valid UTF-8, otherwise
// Windows-1252, the encoding older IRC clients send. Every byte sequence decodes to something.
namespace LineDecoder {
QString Decode(QByteArrayView line);
QString DecodeWindows1252(QByteArrayView line);
} // namespace LineDecoder
