// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include "cache/cachemaintenance.h"
#include "common/errors.h"
#include "support/support.h"

using namespace veldra;

namespace {

class CacheMaintenance : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        queries = dir.path() + QStringLiteral("/QUERIES/");
        cacheRoot = dir.path() + QStringLiteral("/CACHE/");
        QDir().mkdir(queries);
        QDir().mkdir(cacheRoot);
        now = QDateTime(QDate(2026, 3, 15), QTime(12, 0, 0));
        clock = WallClock([this] { return now; });
    }
    void addFunction(const QString& name)
    {
        QFile f(queries + name + QStringLiteral(".qr"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    // A cache file of `size` bytes (sparse), last written at `written` when valid.
    void addCacheFile(const QString& function, const QString& file, qint64 size = 10, QDateTime written = {})
    {
        QDir().mkdir(cacheRoot + function);
        QFile f(cacheRoot + function + u'/' + file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(size));
        if (written.isValid()) {
            ASSERT_TRUE(f.setFileTime(written, QFileDevice::FileModificationTime));
        }
    }
    void addCacheFiles(const QString& function, int count, qint64 size = 10)
    {
        for (int i = 0; i < count; ++i) addCacheFile(function, QStringLiteral("K%1.cache").arg(i), size);
    }
    bool exists(const QString& function) const { return QFileInfo(cacheRoot + function).isDir(); }
    CleaningInputs inputs(const CachePolicies& p) const { return CleaningInputs{queries, cacheRoot, queries, cacheRoot, p}; }

    QTemporaryDir dir;
    QString queries, cacheRoot;
    QDateTime now;
    WallClock clock;
};

}  // namespace

TEST_F(CacheMaintenance, StatisticsCountCacheFilesAndRoundMegabytesDown)
{
    EXPECT_EQ(CacheFolderStatistics(QString(), false), QStringLiteral("<qt>0</qt><sizeMB>0</sizeMB>"));
    EXPECT_EQ(CacheFolderStatistics(cacheRoot + QStringLiteral("none/"), false), QStringLiteral("<qt>0</qt><sizeMB>0</sizeMB>"));
    addCacheFiles(QStringLiteral("sales"), 3, 1048576);
    addCacheFile(QStringLiteral("sales"), QStringLiteral("K.temp_7.cache"), 1048575);
    addCacheFile(QStringLiteral("sales"), QStringLiteral("K.cache.a1B2c3"), 5 * 1048576);  // a store in progress
    EXPECT_EQ(CacheFolderStatistics(cacheRoot + QStringLiteral("sales/"), false), QStringLiteral("<qt>4</qt><sizeMB>3</sizeMB>"));
}

TEST_F(CacheMaintenance, AgePolicyDeletesFilesOlderThanTheLimitInWholeDays)
{
    addCacheFile(QStringLiteral("sales"), QStringLiteral("young.cache"), 10, now.addDays(-30).addSecs(-23 * 3600));
    addCacheFile(QStringLiteral("sales"), QStringLiteral("old.cache"), 10, now.addDays(-31));
    addCacheFile(QStringLiteral("sales"), QStringLiteral("today.cache"), 10, now.addSecs(-1));
    ASSERT_TRUE(QFile::link(cacheRoot + QStringLiteral("gone"), cacheRoot + QStringLiteral("sales/dangling.cache")));
    const QString folder = cacheRoot + QStringLiteral("sales/");

    EXPECT_EQ(CacheFolderStatistics(folder, true, QStringLiteral("30"), clock), QStringLiteral("<qt>2</qt><sizeMB>0</sizeMB>"));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("young.cache")));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("old.cache")));
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("dangling.cache")).isSymLink());  // passed over, not deleted

    EXPECT_THROW(CacheFolderStatistics(folder, true, QStringLiteral("3O"), clock), Error);
    // The daily cleaning measures the ages from the time of its clock.
    addFunction(QStringLiteral("sales"));
    addCacheFile(QStringLiteral("sales"), QStringLiteral("old.cache"), 10, now.addDays(-31));
    CachePolicies p;
    p.cleanOlderFiles = true;
    CleanCacheByPolicies(inputs(p), clock);
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("young.cache")));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("old.cache")));
    // Two-second resolution: 12:00:01 counts as 12:00:00, one whole day before now.
    EXPECT_EQ(fileAgeDays(QDateTime(QDate(2026, 3, 14), QTime(12, 0, 1)), now), 1);
    EXPECT_EQ(fileAgeDays(QDateTime(QDate(2026, 3, 14), QTime(12, 0, 2)), now), 0);
    // Days between the local clock readings, across the changes to and from summer time.
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    struct Case {
        QDateTime written, now;
        qint64 days;
    } cases[] = {
        {QDateTime(QDate(2026, 3, 1), QTime(12, 0), berlin), QDateTime(QDate(2026, 4, 1), QTime(12, 0), berlin), 31},
        {QDateTime(QDate(2026, 10, 1), QTime(12, 0), berlin), QDateTime(QDate(2026, 10, 31), QTime(11, 30), berlin), 29},
        // a last-write time given in UTC is read on the local clock of `now`
        {QDateTime(QDate(2026, 3, 1), QTime(11, 0), QTimeZone::utc()), QDateTime(QDate(2026, 4, 1), QTime(12, 0), berlin), 31},
    };
    for (const auto& c : cases) EXPECT_EQ(fileAgeDays(c.written, c.now), c.days) << c.written.toString().toStdString();
}

TEST_F(CacheMaintenance, CountPolicyDeletesAFolderThatReachesTheLimit)
{
    for (const char* f : {"atlimit", "below", "orphanless"}) addFunction(QString::fromLatin1(f));
    addCacheFiles(QStringLiteral("atlimit"), 5);
    addCacheFiles(QStringLiteral("below"), 4);
    addCacheFiles(QStringLiteral("noqrfile"), 9);
    CachePolicies p;
    p.quantityForClean = QStringLiteral("5");
    CleanCacheByPolicies(inputs(p), clock);
    EXPECT_FALSE(exists(QStringLiteral("atlimit")));
    EXPECT_TRUE(exists(QStringLiteral("below")));
    EXPECT_TRUE(exists(QStringLiteral("noqrfile")));

    p.cleanQuantityIsMore = false;
    p.quantityForClean = QStringLiteral("1");
    CleanCacheByPolicies(inputs(p), clock);
    EXPECT_TRUE(exists(QStringLiteral("below")));
}

TEST_F(CacheMaintenance, SizePolicyAddsWholeMegabytesPerFolder)
{
    for (const char* f : {"a", "b", "c"}) {
        addFunction(QString::fromLatin1(f));
        addCacheFile(QString::fromLatin1(f), QStringLiteral("K.cache"), 700 * 1024);
    }
    addCacheFiles(QStringLiteral("orphan"), 1, 5 * 1048576);
    CachePolicies p;
    p.sizeForClean = QStringLiteral("1");
    CleanCacheByPolicies(inputs(p), clock);  // 0 + 0 + 0 Mb
    EXPECT_TRUE(exists(QStringLiteral("a")) && exists(QStringLiteral("b")) && exists(QStringLiteral("c")));

    addFunction(QStringLiteral("big"));
    addCacheFile(QStringLiteral("big"), QStringLiteral("K.cache"), 1048576);
    addFunction(QStringLiteral("nofolder"));
    CleanCacheByPolicies(inputs(p), clock);
    for (const char* f : {"a", "b", "c", "big"}) EXPECT_FALSE(exists(QString::fromLatin1(f))) << f;
    EXPECT_TRUE(exists(QStringLiteral("orphan")));
}

TEST_F(CacheMaintenance, SizePolicyAlsoTakesFoldersTheCountPolicyLeft)
{
    addFunction(QStringLiteral("many"));
    addFunction(QStringLiteral("few"));
    addCacheFiles(QStringLiteral("many"), 3, 10);
    addCacheFiles(QStringLiteral("few"), 1, 2 * 1048576);
    CachePolicies p;
    p.quantityForClean = QStringLiteral("3");
    p.sizeForClean = QStringLiteral("2");
    CleanCacheByPolicies(inputs(p), clock);
    EXPECT_FALSE(exists(QStringLiteral("many")));
    EXPECT_FALSE(exists(QStringLiteral("few")));
}

TEST_F(CacheMaintenance, CleaningNeedsThePageFoldersAndAWholeNumberLimit)
{
    addFunction(QStringLiteral("sales"));
    addCacheFiles(QStringLiteral("sales"), 2);
    CachePolicies p;
    p.quantityForClean = QStringLiteral("1");
    for (const auto& in : {CleaningInputs{QStringLiteral("  "), cacheRoot, queries, cacheRoot, p},
                           CleaningInputs{queries, dir.path() + QStringLiteral("/nope"), queries, cacheRoot, p},
                           CleaningInputs{queries, cacheRoot, queries, QString(), p}}) {
        CleanCacheByPolicies(in, clock);
        EXPECT_TRUE(exists(QStringLiteral("sales")));
    }
    p.quantityForClean = QStringLiteral("many");
    EXPECT_THROW(CleanCacheByPolicies(inputs(p), clock), Error);
    EXPECT_TRUE(exists(QStringLiteral("sales")));
}

TEST_F(CacheMaintenance, PageListsSelectsAndDeletes)
{
    test::ScriptedOperator ui;
    CachePageModel page;
    cachePageUpdateList(page, {QString(), cacheRoot}, ui);
    cachePageUpdateList(page, {queries, dir.path() + QStringLiteral("/nope")}, ui);
    EXPECT_EQ(ui.messages, (QStringList{QStringLiteral("The path to the query folder is empty or wrong !"),
                                        QStringLiteral("The path to the cache folder is empty or wrong !")}));
    EXPECT_TRUE(page.functions.isEmpty());

    // "CLEAN FULL CACHE" with an empty list asks nothing.
    cachePageCleanFull(page, {queries, cacheRoot}, ui);
    EXPECT_TRUE(ui.questions.isEmpty());

    addFunction(QStringLiteral("sales"));
    addFunction(QStringLiteral("stock"));
    addFunction(QStringLiteral("nocache"));
    addCacheFiles(QStringLiteral("sales"), 3, 1048576);
    addCacheFiles(QStringLiteral("stock"), 2, 10);
    addCacheFiles(QStringLiteral("orphan"), 2, 10);
    const CachePageFolders folders{dir.path() + QStringLiteral("/QUERIES"), dir.path() + QStringLiteral("/CACHE")};
    cachePageUpdateList(page, folders, ui);
    EXPECT_EQ(page.functions, (QStringList{QStringLiteral("sales"), QStringLiteral("stock")}));
    EXPECT_EQ(page.countFunctions, QStringLiteral("Count functions (folders) : 2"));
    EXPECT_EQ(page.countAll, QStringLiteral("Count cache files in all folders : 5"));
    EXPECT_EQ(page.sizeAll, QStringLiteral("Sum size all cache files : 3 Mb"));
    EXPECT_EQ(page.countInFolder, QStringLiteral("Count cache files in folder : 000"));

    cachePageSelect(page, 0, folders);
    EXPECT_EQ(page.countInFolder, QStringLiteral("Count cache files in folder : 3"));
    EXPECT_EQ(page.sizeInFolder, QStringLiteral("Sum size all cache files in folder : 3 Mb"));

    ui.answerYes = false;
    cachePageDeleteSelected(page, folders, ui);
    EXPECT_EQ(ui.questions.last(), QStringLiteral("Delete cache files for function [sales] ?"));
    EXPECT_TRUE(exists(QStringLiteral("sales")));

    ui.answerYes = true;
    cachePageDeleteSelected(page, folders, ui);
    EXPECT_FALSE(exists(QStringLiteral("sales")));
    EXPECT_EQ(page.functions, QStringList{QStringLiteral("stock")});
    EXPECT_EQ(page.selected, -1);
    EXPECT_EQ(page.countInFolder, QStringLiteral("Count cache files in folder : 000"));

    cachePageCleanFull(page, folders, ui);
    EXPECT_EQ(ui.questions.last(), QStringLiteral("Clean full cache for all function ?"));
    EXPECT_FALSE(exists(QStringLiteral("stock")));
    EXPECT_TRUE(exists(QStringLiteral("orphan")));
    EXPECT_TRUE(page.functions.isEmpty());
    EXPECT_EQ(page.countFunctions, QStringLiteral("Count functions (folders) : 0"));
}

// Function files named "...qr" (function "..") and "..qr" (function ".") name the
// folder above the cache folder and the cache folder itself: nothing of them is measured
// or deleted, by the daily cleaning or by the page.
TEST_F(CacheMaintenance, StrayNamesNeverReachOutsideTheCacheFolder)
{
    const QString ini = dir.path() + QStringLiteral("/veldra.ini");
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    addFunction(QStringLiteral(".."));
    addFunction(QStringLiteral("."));
    addFunction(QStringLiteral("sales"));
    addCacheFiles(QStringLiteral("sales"), 2, 1048576);
    auto survivors = [&] {
        EXPECT_TRUE(QFileInfo::exists(ini));
        EXPECT_TRUE(QFileInfo::exists(queries + QStringLiteral("...qr")));
        EXPECT_TRUE(QFileInfo(cacheRoot).isDir());
    };

    // Over the size limit: every function folder goes, and nothing else.
    CachePolicies p;
    p.sizeForClean = QStringLiteral("1");
    p.quantityForClean = QStringLiteral("1");  // the count policy too
    CleanCacheByPolicies(inputs(p), clock);
    survivors();
    EXPECT_FALSE(exists(QStringLiteral("sales")));

    test::ScriptedOperator ui;
    CachePageModel page;
    const CachePageFolders folders{queries, cacheRoot};
    addCacheFiles(QStringLiteral("sales"), 1);
    cachePageUpdateList(page, folders, ui);
    EXPECT_EQ(page.functions, QStringList{QStringLiteral("sales")});
    cachePageCleanFull(page, folders, ui);
    survivors();
    EXPECT_FALSE(exists(QStringLiteral("sales")));

    // A list that names them anyway (stale, or made by hand) deletes nothing.
    addCacheFiles(QStringLiteral("sales"), 1);
    page.functions = QStringList{QStringLiteral("."), QStringLiteral("..")};
    page.selected = 0;
    cachePageDeleteSelected(page, folders, ui);
    page.selected = 1;
    cachePageDeleteSelected(page, folders, ui);
    page.functions = QStringList{QStringLiteral("."), QStringLiteral("..")};
    cachePageCleanFull(page, folders, ui);
    survivors();
    EXPECT_TRUE(exists(QStringLiteral("sales")));
}

// A function folder that is a link to a folder elsewhere: the age policy deletes no file
// there, and the cleaning removes the link, not what it points to.
TEST_F(CacheMaintenance, LinkedFunctionFolderKeepsWhatItPointsTo)
{
    const QString outside = dir.path() + QStringLiteral("/outside");
    QDir().mkdir(outside);
    {
        QFile f(outside + QStringLiteral("/old.cache"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.setFileTime(now.addDays(-100), QFileDevice::FileModificationTime));
    }
    addFunction(QStringLiteral("sales"));
    ASSERT_TRUE(QFile::link(outside, cacheRoot + QStringLiteral("sales")));

    CachePolicies p;
    p.cleanOlderFiles = true;
    p.cleanQuantityIsMore = false;
    p.cleanIfSumFilesIsMore = false;
    CleanCacheByPolicies(inputs(p), clock);
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/old.cache")));

    p.cleanIfSumFilesIsMore = true;
    p.sizeForClean = QStringLiteral("0");
    CleanCacheByPolicies(inputs(p), clock);
    EXPECT_FALSE(QFileInfo(cacheRoot + QStringLiteral("sales")).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/old.cache")));
}
