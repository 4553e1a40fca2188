// SPDX-License-Identifier: GPL-3.0-or-later
// The INI reader: any file content reads without failing, and a value written into it
// reads back as it was written, also after the text is read again.
#include <cstdint>

#include "config/inifile.h"
#include "fuzzcheck.h"

using namespace veldra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    IniFile ini = IniFile::fromBytes(bytes);
    (void)ini.value(QStringLiteral("Main"), QStringLiteral("port"));
    (void)ini.value(QStringLiteral("main"), QStringLiteral("Path_To_Queries"), QStringLiteral("x"));

    // A value taken from the input itself: its first line, up to 200 characters.
    QString value = QString::fromUtf8(bytes.left(200));
    value = value.left(value.indexOf(u'\n')).remove(u'\r');
    ini.setValue(QStringLiteral("Fuzz"), QStringLiteral("key"), value);
    FUZZ_CHECK(ini.value(QStringLiteral("fuzz"), QStringLiteral("KEY")) == value);

    const IniFile again = IniFile::fromBytes(QByteArray("\xEF\xBB\xBF") + ini.text().toUtf8());
    FUZZ_CHECK(again.value(QStringLiteral("Fuzz"), QStringLiteral("key")) == value);
    return 0;
}
