// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <thread>

#include "common/errors.h"
#include "common/files.h"

using namespace veldra;

TEST(Files, DecodeText)
{
    struct Case {
        QByteArray bytes;
        NoBomEncoding fallback;
        QString text;
    };
    const auto both = NoBomEncoding::Utf8OrCp1252;
    const auto cp = NoBomEncoding::Cp1252;
    const Case cases[] = {
        {"", both, ""},
        {"\xEF\xBB\xBF", both, ""},
        {"\xEF\xBB\xBF\xC3\xA9", cp, QStringLiteral(u"\u00e9")},
        {QByteArray("\xFF\xFE\xE9\x00\x2D\x4E", 6), cp, QStringLiteral(u"\u00e9\u4e2d")},
        {QByteArray("\xFE\xFF\x00\xE9\x4E\x2D", 6), both, QStringLiteral(u"\u00e9\u4e2d")},
        {"\xC3\xA9", both, QStringLiteral(u"\u00e9")},
        {"\xC3\xA9", cp, QStringLiteral(u"\u00c3\u00a9")},
        {"\xE9\x80", both, QStringLiteral(u"\u00e9\u20ac")},  // not UTF-8: Windows-1252
    };
    for (const Case& c : cases) EXPECT_EQ(decodeText(c.bytes, c.fallback), c.text) << c.bytes.toHex().constData();
    EXPECT_TRUE(isValidUtf8("abc\xC3\xA9"));
    EXPECT_FALSE(isValidUtf8("\xC3"));
    EXPECT_EQ(decodeUtf8Lossy("a\xE9z"), QStringLiteral(u"a\ufffdz"));
}

TEST(Files, WriteAndReadTextFiles)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    writeTextFile(path, {QStringLiteral(u"\u00e9"), QString(), QStringLiteral("x")});
    EXPECT_EQ(readFileBytes(path), QByteArray("\xEF\xBB\xBF\xC3\xA9\r\n\r\nx\r\n"));
    EXPECT_EQ(readTextFileLines(path), QStringList({QStringLiteral(u"\u00e9"), QString(), QStringLiteral("x")}));
    writeTextFile(path, {});
    EXPECT_EQ(readFileBytes(path), QByteArray("\xEF\xBB\xBF"));
    writeFileAtomically(path, "raw");
    EXPECT_EQ(readFileBytes(path), QByteArray("raw"));
    EXPECT_THROW(readFileBytes(dir.filePath(QStringLiteral("missing"))), FileError);
    EXPECT_THROW(writeTextFile(dir.filePath(QStringLiteral("no/such/folder/f")), {}), FileError);
}

// Stores into a folder that others delete (the answer cache): a missing folder stores
// nothing, other failures still throw, and nothing but the target is left behind.
TEST(Files, WriteIfFolderStays)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("f"));
    const QString target = folder + QStringLiteral("/K.cache");
    EXPECT_FALSE(writeFileAtomicallyIfFolderStays(target, "x"));
    EXPECT_FALSE(writeFileAtomicallyIfFolderStays(dir.filePath(QStringLiteral("a/b/K.cache")), "x"));
    EXPECT_FALSE(QFileInfo::exists(folder));

    ASSERT_TRUE(QDir().mkdir(folder));
    EXPECT_TRUE(writeFileAtomicallyIfFolderStays(target, "old"));
    EXPECT_TRUE(writeFileAtomicallyIfFolderStays(target, "new"));
    EXPECT_EQ(readFileBytes(target), QByteArray("new"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("K.cache")}));

    // The folder is there and stays: these are failures.
    ASSERT_TRUE(QDir().mkdir(folder + QStringLiteral("/sub.cache")));
    EXPECT_THROW((void)writeFileAtomicallyIfFolderStays(folder + QStringLiteral("/sub.cache"), "x"), FileError);
    EXPECT_THROW((void)writeFileAtomicallyIfFolderStays(target + QStringLiteral("/K.cache"), "x"), FileError);
    EXPECT_EQ(readFileBytes(target), QByteArray("new"));
}

// One thread deletes the folder and makes it again over and over, while another
// stores into it and a third reads: no store fails, every read finds one whole
// content, and no temporary file stays behind.
TEST(Files, WriteIfFolderStaysWhileTheFolderComesAndGoes)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("f"));
    const QString target = folder + QStringLiteral("/K.cache");
    const auto content = [](int i) { return QByteArray(4096 + i % 7 * 1000, char('a' + i % 26)); };
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread cleaner([&] {
        while (!done.load()) {
            QDir(folder).removeRecursively();
            QDir().mkdir(folder);
            std::this_thread::sleep_for(std::chrono::microseconds(200));  // lets some stores through
        }
    });
    std::thread reader([&] {
        while (!done.load()) {
            QFile f(target);
            if (!f.open(QIODevice::ReadOnly)) continue;
            const QByteArray got = f.readAll();
            if (got.isEmpty() || got != QByteArray(got.size(), got.front()) || (got.size() - 4096) % 1000 != 0) ++torn;
        }
    });
    int failures = 0;
    int stored = 0;
    for (int i = 0; i < 2000 && stored < 100; ++i) {
        try {
            if (writeFileAtomicallyIfFolderStays(target, content(i)))
                ++stored;
            else
                std::this_thread::sleep_for(std::chrono::microseconds(50));
        } catch (const FileError& e) {
            ADD_FAILURE() << e.message().toStdString();
            if (++failures > 3) break;
        }
    }
    done = true;
    cleaner.join();
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    QDir().mkdir(folder);
    EXPECT_TRUE(writeFileAtomicallyIfFolderStays(target, content(1)));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("K.cache")}));
}

TEST(Files, RecursiveDelete)
{
    QTemporaryDir dir;
    const QString tree = dir.filePath(QStringLiteral("a"));
    ASSERT_TRUE(QDir().mkpath(tree + QStringLiteral("/b/c")));
    writeFileAtomically(tree + QStringLiteral("/b/c/f.cache"), "x");
    writeFileAtomically(dir.filePath(QStringLiteral("single")), "x");
    EXPECT_TRUE(recursiveDelete(tree));
    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_TRUE(recursiveDelete(dir.filePath(QStringLiteral("single"))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("single"))));
    EXPECT_TRUE(recursiveDelete(dir.filePath(QStringLiteral("never"))));
}

TEST(Files, ProgramFolder)
{
    const QString real = programFolder();
    setProgramFolderForTesting(QStringLiteral("/tmp/x/"));
    EXPECT_EQ(programFolder(), QStringLiteral("/tmp/x"));
    EXPECT_EQ(programFile(QStringLiteral("veldra.ini")), QStringLiteral("/tmp/x/veldra.ini"));
    setProgramFolderForTesting(QString());
    EXPECT_EQ(programFolder(), real);
}

TEST(Files, ProgramFolderOfPortableAndInstalledCopies)
{
    struct Case {
        bool installed;
        QString xdg;
        QString folder;
    };
    const QString exe = QStringLiteral("/opt/veldra");
    const Case cases[] = {
        {false, QStringLiteral("/data"), exe},  // portable: the executable's folder
        {true, QString(), QStringLiteral("/home/op/.local/share/veldra")},
        {true, QStringLiteral("/var/lib"), QStringLiteral("/var/lib/veldra")},
        {true, QStringLiteral("/var/lib/"), QStringLiteral("/var/lib/veldra")},
        {true, QStringLiteral("relative/data"), QStringLiteral("/home/op/.local/share/veldra")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(resolveProgramFolder({exe, c.installed, c.xdg, QStringLiteral("/home/op")}), c.folder) << c.xdg.toStdString();

    // the test program runs from a writable build folder: a portable copy
    EXPECT_FALSE(isInstalledCopy());
    EXPECT_EQ(programFolder(), executableFolder());
    EXPECT_EQ(executableFile(), QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
}
