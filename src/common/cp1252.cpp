// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/cp1252.h"

#include <array>

namespace veldra::cp1252 {
namespace {

// Unicode of the bytes 80..9F.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

int byteOf(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == c) return 0x80 + i;
    return -1;
}

QString decode(const QByteArray& bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        d[i] = QChar((b >= 0x80 && b < 0xA0) ? kHigh[b - 0x80] : char16_t(b));
    }
    return out;
}

QByteArray encode(const QString& text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    char* d = out.data();
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const int b = c < 0x80 ? int(c) : byteOf(c);
        d[n++] = char(b < 0 ? '?' : b);
        // A character outside the BMP is one character: one "?".
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ++i;
    }
    out.truncate(n);
    return out;
}

QByteArray decodeToUtf8(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 8);
    const char* p = bytes.data();
    qsizetype from = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        if (b < 0x80) continue;
        out.append(p + from, i - from);
        from = i + 1;
        const char16_t c = b < 0xA0 ? kHigh[b - 0x80] : char16_t(b);
        if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    out.append(p + from, bytes.size() - from);
    return out;
}

}  // namespace veldra::cp1252
