// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <functional>

#include "common/cp1252.h"
#include "config/inifile.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {


}  // namespace

TEST(IniFile, ReadingRules)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.ini"));
    putBytes(path,
             "top=outside any section\r"
             "[ Main ]\r"
             "  Key One  =  value with = sign  \r"
             ";hidden=1\r"
             "#hidden2=1\r"
             "quoted=\"  padded  \"\r"
             "dup=first\r"
             "dup=second\r"
             "no equals sign\r"
             "empty=\r"
             "[next]\r"
             "key one=other section\r");
    const IniFile ini(path);
    const QString main = QStringLiteral("MAIN");
    EXPECT_EQ(ini.value(main, QStringLiteral("key one")), QStringLiteral("value with = sign"));
    EXPECT_EQ(ini.value(main, QStringLiteral("quoted")), QStringLiteral("  padded  "));
    EXPECT_EQ(ini.value(main, QStringLiteral("dup")), QStringLiteral("first"));
    EXPECT_EQ(ini.value(main, QStringLiteral("empty")), QString());
    EXPECT_EQ(ini.value(main, QStringLiteral("hidden")), std::nullopt);
    EXPECT_EQ(ini.value(main, QStringLiteral("hidden2")), std::nullopt);
    EXPECT_EQ(ini.value(main, QStringLiteral("top")), std::nullopt);
    EXPECT_EQ(ini.value(QStringLiteral("next"), QStringLiteral("KEY ONE")), QStringLiteral("other section"));
    EXPECT_EQ(ini.value(QStringLiteral("none"), QStringLiteral("key one"), QStringLiteral("fallback")), QStringLiteral("fallback"));
}

TEST(IniFile, WritingKeepsEncodingAndEveryOtherByte)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.ini"));
    const QString text = QStringLiteral("; Einstellungen für Jörg\r\n[main]\r\nkey=alt\r\n\r\n[other]\r\nx=1");
    using Encode = std::function<QByteArray(const QString&)>;
    const auto utf16 = [](QStringEncoder::Encoding e) {
        return [e](const QString& t) { return QByteArray(QStringEncoder(e, QStringEncoder::Flag::WriteBom).encode(t)); };
    };
    struct Form {
        const char* what;
        Encode encode;
    };
    const Form forms[] = {
        {"utf-8", [](const QString& t) { return t.toUtf8(); }},
        {"utf-8 bom", [](const QString& t) { return "\xEF\xBB\xBF" + t.toUtf8(); }},
        {"utf-16le", utf16(QStringEncoder::Utf16LE)},
        {"utf-16be", utf16(QStringEncoder::Utf16BE)},
        {"windows-1252", [](const QString& t) { return cp1252::encode(t); }},
    };
    const QString after = QStringLiteral(
        "; Einstellungen für Jörg\r\n[main]\r\nkey=neu ü\r\nadded=2\r\n\r\n[other]\r\nx=1\r\n[third]\r\ny=3\r\n");
    for (const Form& f : forms) {
        SCOPED_TRACE(f.what);
        putBytes(path, f.encode(text));
        IniFile ini(path);
        ini.setValue(QStringLiteral("MAIN"), QStringLiteral("KEY"), QStringLiteral("neu ü"));
        ini.setValue(QStringLiteral("main"), QStringLiteral("added"), QStringLiteral("2"));
        ini.setValue(QStringLiteral("third"), QStringLiteral("y"), QStringLiteral("3"));
        ini.save();
        EXPECT_EQ(fileBytes(path), f.encode(after));
    }
    // Windows-1252 stays single-byte.
    EXPECT_TRUE(fileBytes(path).contains("key=neu \xFC\r\n"));
}

TEST(IniFile, ValuesRoundTripExactly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.ini"));
    const QStringList values{QString(), QStringLiteral(" lead"), QStringLiteral("trail\t"), QStringLiteral("\"q\""),
                             QStringLiteral("\""), QStringLiteral("a=b;c#d"), QStringLiteral("[x]"), QStringLiteral("ü€")};
    IniFile ini(path);
    for (int i = 0; i < values.size(); ++i) ini.setValue(QStringLiteral("s"), QStringLiteral("k%1").arg(i), values[i]);
    ini.save();
    const IniFile back(path);
    for (int i = 0; i < values.size(); ++i)
        EXPECT_EQ(back.value(QStringLiteral("s"), QStringLiteral("k%1").arg(i)), values[i]) << i;
    // A line break cannot stand in a value: it becomes a blank instead of a new line.
    IniFile again(path);
    again.setValue(QStringLiteral("s"), QStringLiteral("k0"), QStringLiteral("two\r\nlines"));
    EXPECT_EQ(again.value(QStringLiteral("s"), QStringLiteral("k0")), QStringLiteral("two lines"));
}

TEST(IniFile, Windows1252FileTakesAValueOutsideTheCodePage)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.ini"));
    putBytes(path, "; f\xFCr J\xF6rg\r\n[main]\r\nkey=alt\r\n");
    IniFile ini(path);
    ini.setValue(QStringLiteral("main"), QStringLiteral("key"), QStringLiteral("Жук €"));
    ini.save();
    // Nothing is lost: the file is UTF-8 now and reads back as written.
    EXPECT_EQ(fileBytes(path), QStringLiteral("; für Jörg\r\n[main]\r\nkey=Жук €\r\n").toUtf8());
    const IniFile back(path);
    EXPECT_EQ(back.value(QStringLiteral("main"), QStringLiteral("key")), QStringLiteral("Жук €"));
}
