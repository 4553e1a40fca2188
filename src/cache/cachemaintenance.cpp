// SPDX-License-Identifier: GPL-3.0-or-later
#include "cache/cachemaintenance.h"

#include <QDir>
#include <QFileInfo>
#include <QTimeZone>

#include "common/errors.h"
#include "common/files.h"
#include "common/functionname.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "common/text.h"
#include "queries/queryfile.h"

namespace veldra {

namespace {

const QString kZeroStatistics = QStringLiteral("<qt>0</qt><sizeMB>0</sizeMB>");

qint32 wholeNumber(const QString& text)
{
    qint32 value = 0;
    if (!toInt32(text, value))
        throw Error(QStringLiteral("EConvertError"), QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

QFileInfoList cacheEntries(const QString& folder)
{
    QDir d(folder);
    d.setNameFilters({QStringLiteral("*.cache")});
    // System: dangling links are listed too; their times cannot be read.
    return d.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name | QDir::IgnoreCase);
}

}  // namespace

qint64 fileAgeDays(const QDateTime& lastWrite, const QDateTime& now)
{
    // Both as local clock readings (date and time of day in the zone of `now`), so that a
    // change to or from summer time in between does not move a file by an hour.
    const QDateTime written = lastWrite.toTimeZone(now.timeZone());
    const QTime t = written.time();
    const QTime dos(t.hour(), t.minute(), t.second() - t.second() % 2);
    const qint64 day = 24LL * 60 * 60 * 1000;
    const qint64 ms = written.date().daysTo(now.date()) * day + now.time().msecsSinceStartOfDay() -
                      dos.msecsSinceStartOfDay();
    return ms >= 0 ? ms / day : -((-ms + day - 1) / day);
}

namespace {

// Old files are deleted only when the folder lies strictly inside `cacheRoot` (the cache
// folder; when empty, the caller vouches for the folder).
QString folderStatistics(const QString& folder, bool deleteOldFiles, const QString& countDaysForClean,
                         const QDateTime& now, const QString& cacheRoot = QString())
{
    if (trim(folder).isEmpty() || !QFileInfo(folder).isDir()) return kZeroStatistics;
    qint32 limitDays = 0;
    if (deleteOldFiles) limitDays = wholeNumber(countDaysForClean);
    // The entries of a folder that lies strictly inside the cache folder, once resolved,
    // lie inside it too (a link among them is removed as a link): one check per folder.
    const bool mayDelete =
        deleteOldFiles && (cacheRoot.isEmpty() || liesStrictlyInside(cacheRoot, QFileInfo(folder).canonicalFilePath()));
    qint64 count = 0;
    qint64 bytes = 0;
    for (const QFileInfo& fi : cacheEntries(folder)) {
        if (deleteOldFiles) {
            const QDateTime written = fi.lastModified();
            if (!written.isValid()) continue;
            if (fileAgeDays(written, now) > limitDays) {
                if (mayDelete) QFile::remove(fi.filePath());
                continue;
            }
        }
        ++count;
        bytes += fi.size();
    }
    return QStringLiteral("<qt>%1</qt><sizeMB>%2</sizeMB>").arg(count).arg(bytes / 1024 / 1024);
}

}  // namespace

QString CacheFolderStatistics(const QString& folder, bool deleteOldFiles, const QString& countDaysForClean,
                              const WallClock& clock)
{
    return folderStatistics(folder, deleteOldFiles, countDaysForClean, clock.now());
}

qint64 statisticsCount(const QString& statistics)
{
    return textBetween(statistics, QStringLiteral("<qt>"), QStringLiteral("</qt>")).toLongLong();
}

qint64 statisticsSizeMB(const QString& statistics)
{
    return textBetween(statistics, QStringLiteral("<sizeMB>"), QStringLiteral("</sizeMB>")).toLongLong();
}

namespace {

// Walks every cache file of every function folder: the long part of a cleaning.
void cleanByPolicies(const CleaningInputs& in, const QDateTime& now)
{
    const CachePolicies& p = in.policies;
    QStringList functions;
    qint64 totalMB = 0;
    for (const QString& name : listQueryFunctions(in.pathToQueries)) {
        // "..", "." and the like name no function folder: never measured, never deleted.
        const QString folder = functionCacheFolder(in.pathToCache, name);
        if (folder.isEmpty()) continue;
        functions << name;
        if (!QFileInfo(folder).isDir()) continue;
        const QString stats = folderStatistics(folder + u'/', p.cleanOlderFiles, p.countDaysForClean, now, in.pathToCache);
        if (p.cleanQuantityIsMore && statisticsCount(stats) >= wholeNumber(p.quantityForClean)) {
            deleteFunctionCacheFolder(in.pathToCache, name);
            continue;
        }
        totalMB += statisticsSizeMB(stats);
    }
    if (p.cleanIfSumFilesIsMore && totalMB >= wholeNumber(p.sizeForClean)) {
        for (const QString& name : functions) deleteFunctionCacheFolder(in.pathToCache, name);
    }
}

}  // namespace

void CleanCacheByPolicies(const CleaningInputs& in, const WallClock& clock)
{
    if (!isExistingFolder(in.pageQueriesFolder) || !isExistingFolder(in.pageCacheFolder)) return;
    // An empty running folder would name the working folder: never list or delete there.
    if (!isExistingFolder(in.pathToQueries) || !isExistingFolder(in.pathToCache)) return;
    const QDateTime now = clock.now();  // one time for every folder
    mainthread::runLongWait(QStringLiteral("Cleaning the cache ..."), [&] { cleanByPolicies(in, now); });
}

void cachePageUpdateList(CachePageModel& page, const CachePageFolders& folders, OperatorUi& ui)
{
    page = CachePageModel{};
    if (!isExistingFolder(folders.queriesFolder)) {
        ui.showMessage(QStringLiteral("The path to the query folder is empty or wrong !"));
        return;
    }
    if (!isExistingFolder(folders.cacheFolder)) {
        ui.showMessage(QStringLiteral("The path to the cache folder is empty or wrong !"));
        return;
    }
    const QString queries = consoleFolder(folders.queriesFolder);
    const QString cacheRoot = consoleFolder(folders.cacheFolder);
    CachePageModel listed = page;
    mainthread::runLongWait(QStringLiteral("Counting the cache files ..."), [&] {
        qint64 totalCount = 0;
        qint64 totalMB = 0;
        for (const QString& name : listQueryFunctions(queries)) {
            const QString folder = functionCacheFolder(cacheRoot, name);
            if (folder.isEmpty() || !QFileInfo(folder).isDir()) continue;
            listed.functions << name;
            const QString stats = CacheFolderStatistics(folder + u'/', false);
            totalCount += statisticsCount(stats);
            totalMB += statisticsSizeMB(stats);
            listed.countAll = QStringLiteral("Count cache files in all folders : %1").arg(totalCount);
            listed.sizeAll = QStringLiteral("Sum size all cache files : %1 Mb").arg(totalMB);
        }
    });
    page = listed;
    page.countFunctions = QStringLiteral("Count functions (folders) : %1").arg(page.functions.size());
}

void cachePageSelect(CachePageModel& page, int index, const CachePageFolders& folders)
{
    if (page.functions.isEmpty() || index < 0 || index >= page.functions.size()) return;
    page.selected = index;
    if (trim(folders.cacheFolder).isEmpty() || !isUsableFunctionName(page.functions[index])) return;
    const QString folder = consoleFolder(folders.cacheFolder) + page.functions[index] + u'/';
    QString stats;
    mainthread::runLongWait(QStringLiteral("Counting the cache files ..."),
                            [&] { stats = CacheFolderStatistics(folder, false); });
    page.countInFolder = QStringLiteral("Count cache files in folder : %1").arg(statisticsCount(stats));
    page.sizeInFolder = QStringLiteral("Sum size all cache files in folder : %1 Mb").arg(statisticsSizeMB(stats));
}

void cachePageDeleteSelected(CachePageModel& page, const CachePageFolders& folders, OperatorUi& ui)
{
    if (page.functions.isEmpty() || page.selected < 0 || page.selected >= page.functions.size()) return;
    const QString name = page.functions[page.selected];
    if (!ui.askYesNo(QStringLiteral("Delete cache files for function [") + name + QStringLiteral("] ?"))) return;
    if (!isExistingFolder(folders.cacheFolder)) return;
    const QString cacheRoot = consoleFolder(folders.cacheFolder);
    const QString folder = functionCacheFolder(cacheRoot, name);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) return;
    mainthread::runLongWait(QStringLiteral("Deleting cache files ..."),
                            [&] { deleteFunctionCacheFolder(cacheRoot, name); });
    cachePageUpdateList(page, folders, ui);
}

void cachePageCleanFull(CachePageModel& page, const CachePageFolders& folders, OperatorUi& ui)
{
    if (page.functions.isEmpty()) return;
    if (!ui.askYesNo(QStringLiteral("Clean full cache for all function ?"))) return;
    if (isExistingFolder(folders.cacheFolder)) {
        const QString cacheRoot = consoleFolder(folders.cacheFolder);
        mainthread::runLongWait(QStringLiteral("Deleting cache files ..."), [&] {
            for (const QString& name : page.functions) deleteFunctionCacheFolder(cacheRoot, name);
        });
    }
    cachePageUpdateList(page, folders, ui);
}

}  // namespace veldra
