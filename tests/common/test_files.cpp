// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "common/errors.h"
#include "common/files.h"
#include "support/fullfilesystem.h"

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

namespace {

void putBytesForLink(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("victim");
}

mode_t modeOf(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// Each writer, writing `bytes` to `path`; the ones that report a lost folder by a
// result say whether the content is in place.
struct Writer {
    const char* name;
    std::function<void(const QString&, const QByteArray&)> write;
};

const Writer kWriters[] = {
    {"writeFileAtomically", [](const QString& p, const QByteArray& b) { writeFileAtomically(p, b); }},
    {"owner-only", [](const QString& p, const QByteArray& b) { writeFileAtomically(p, b, FileAccess::OwnerOnly); }},
    {"writeTextFile", [](const QString& p, const QByteArray& b) { writeTextFile(p, {QString::fromLatin1(b)}); }},
    {"writeFileAtomicallyIfFolderStays",
     [](const QString& p, const QByteArray& b) { EXPECT_TRUE(writeFileAtomicallyIfFolderStays(p, b)); }},
    {"AtomicFileWriter in pieces",
     [](const QString& p, const QByteArray& b) {
         AtomicFileWriter w(p);
         w.open();
         for (qsizetype at = 0; at < b.size(); at += 1000) w.write(QByteArrayView(b).sliced(at, std::min<qsizetype>(1000, b.size() - at)));
         w.commit();
     }},
};

}  // namespace

// A disk that fills up while a file is written: the write fails with the file's name
// and the reason, the old content stays whole, and no temporary file is left.
TEST(Files, FailedWriteKeepsTheOldFile)
{
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f.txt"));
        const QByteArray old(1000, 'o');
        w.write(path, old);
        const QByteArray stored = readFileBytes(path);
        const QString fresh = dir.filePath(QStringLiteral("new.txt"));
        {
            const test::FileSizeLimit full(4096);
            for (const QString& target : {path, fresh}) {
                try {
                    w.write(target, QByteArray(10000, 'n'));
                    ADD_FAILURE() << "a write beyond the limit succeeded";
                } catch (const FileError& e) {
                    EXPECT_TRUE(e.message().contains(target)) << e.message().toStdString();
                    EXPECT_TRUE(e.message().contains(qt_error_string(EFBIG))) << e.message().toStdString();
                }
            }
            w.write(path + QStringLiteral(".small"), "fits");  // the limit is per file
        }
        EXPECT_EQ(readFileBytes(path), stored);
        EXPECT_EQ(test::folderEntries(dir.path()), QStringList({QStringLiteral("f.txt"), QStringLiteral("f.txt.small")}));
    }
}

// Under umask 022: owner-only files are 0600, whatever mode the file they replace had;
// shared ones keep the mode of the file they replace. A link planted at the name is
// replaced, never written through.
TEST(Files, ModesAndPlantedLinks)
{
    const mode_t oldMask = ::umask(022);
    QTemporaryDir dir;
    const QString secret = dir.filePath(QStringLiteral("veldra.ini"));
    writeFileAtomically(secret, "a", FileAccess::OwnerOnly);
    EXPECT_EQ(modeOf(secret) & 0777, 0600u);
    ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0644), 0);
    writeTextFile(secret, {QStringLiteral("b")}, FileAccess::OwnerOnly);
    EXPECT_EQ(modeOf(secret) & 0777, 0600u);

    const QString shared = dir.filePath(QStringLiteral("shared.txt"));
    writeFileAtomically(shared, "a");
    EXPECT_EQ(modeOf(shared) & 0777, 0644u);
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0640), 0);
    writeFileAtomically(shared, "b");
    EXPECT_EQ(modeOf(shared) & 0777, 0640u);

    const QString victim = dir.filePath(QStringLiteral("victim"));
    putBytesForLink(victim);
    const QString missing = dir.filePath(QStringLiteral("never-made"));
    for (const Writer& w : kWriters) {
        SCOPED_TRACE(w.name);
        const QString log = dir.filePath(QStringLiteral("mainlog-1.log"));
        const QString dangling = dir.filePath(QStringLiteral("mainlog-2.log"));
        ASSERT_TRUE(QFile::link(victim, log));
        ASSERT_TRUE(QFile::link(missing, dangling));
        w.write(log, "log");
        w.write(dangling, "log");
        for (const QString& p : {log, dangling}) {
            EXPECT_TRUE(S_ISREG(modeOf(p)));
            EXPECT_TRUE(readFileBytes(p).contains("log"));
            QFile::remove(p);
        }
        EXPECT_EQ(readFileBytes(victim), QByteArray("victim"));
        EXPECT_FALSE(QFileInfo::exists(missing));
    }
    ::umask(oldMask);
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
    setProgramFolder(QStringLiteral("/tmp/x/"));
    EXPECT_EQ(programFolder(), QStringLiteral("/tmp/x"));
    EXPECT_EQ(programFile(QStringLiteral("veldra.ini")), QStringLiteral("/tmp/x/veldra.ini"));
    setProgramFolder(QString());
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
