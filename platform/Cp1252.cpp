#include "platform/Cp1252.h"

#include <array>

namespace {

// 0x80..0x9F. The five bytes the code page leaves undefined map to the C1 controls of the
// same value, as Windows itself converts them, so they survive a round trip.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char encodeOne(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

QString Cp1252::decode(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        *out++ = (u >= 0x80 && u < 0xA0) ? QChar(kHigh[u - 0x80]) : QChar(u);
    }
    return text;
}

QByteArray Cp1252::encode(QStringView text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char* out = bytes.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character beyond the BMP is one '?', not one for each half of its pair.
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        *out++ = text[i].isSurrogate() ? '?' : encodeOne(text[i].unicode());
    }
    bytes.truncate(out - bytes.data());
    return bytes;
}
