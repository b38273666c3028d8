#include "Platform/Ansi.h"

#include <algorithm>
#include <array>

namespace kv::platform {

namespace {

// Bytes 0x80-0x9F; the five the code page leaves undefined stand for the control
// characters of the same number, as the system's conversion maps them.
constexpr std::array<char16_t, 32> High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
constexpr char16_t HighFirst = 0x80, HighEnd = 0xA0, ByteEnd = 0x100;

char toByte(char16_t c)
{
    if (c < HighFirst || (c >= HighEnd && c < ByteEnd)) return static_cast<char>(c);
    const auto it = std::find(High.begin(), High.end(), c);
    return it == High.end() ? '?' : static_cast<char>(HighFirst + (it - High.begin()));
}

} // namespace

QByteArray ToAnsi(QStringView text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes[i] = toByte(text[i].unicode());
    return bytes;
}

QString FromAnsi(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        text[i] = QChar(b >= HighFirst && b < HighEnd ? High[b - HighFirst] : char16_t(b));
    }
    return text;
}

} // namespace kv::platform
