// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows-1252 codec: every byte string survives bytes -> text -> bytes, and every
// character either has its byte or becomes "?".
#include <cstdint>

#include "common/cp1252.h"
#include "fuzzcheck.h"

using namespace veldra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = cp1252::decode(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(cp1252::encode(text) == bytes);

    // The same input read as UTF-16 code units: a character outside the BMP (a surrogate
    // pair) is one character and one "?".
    const QString units(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    const QByteArray encoded = cp1252::encode(units);
    qsizetype n = 0;
    for (qsizetype i = 0; i < units.size(); ++i, ++n) {
        FUZZ_CHECK(n < encoded.size());
        const QChar c = units.at(i);
        if (c.isHighSurrogate() && i + 1 < units.size() && units.at(i + 1).isLowSurrogate()) {
            FUZZ_CHECK(encoded.at(n) == '?');
            ++i;
            continue;
        }
        const int b = cp1252::byteOf(c.unicode());
        FUZZ_CHECK(encoded.at(n) == (b < 0 ? '?' : char(b)));
        if (b >= 0) FUZZ_CHECK(cp1252::decode(encoded.mid(n, 1)).at(0) == c);
    }
    FUZZ_CHECK(n == encoded.size());
    return 0;
}
