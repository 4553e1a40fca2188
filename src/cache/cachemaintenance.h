// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cache maintenance: folder statistics, the daily cleaning by the three policies, and
// the operations of the cache page. Main thread.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>

#include "common/wallclock.h"

namespace veldra {

class OperatorUi;

// The cleaning switches and limits as the settings page shows them (saved or not).
// The limits are texts: one that is not a whole number ends a cleaning run with a
// failure where it is read.
struct CachePolicies {
    bool cleanOlderFiles = false;               // caching_clean_older_files
    QString countDaysForClean = QStringLiteral("30");  // caching_count_days_for_clean
    bool cleanQuantityIsMore = true;            // caching_clean_quantity_is_more
    QString quantityForClean = QStringLiteral("100000");  // caching_quantity_for_clean
    bool cleanIfSumFilesIsMore = true;          // caching_clean_if_sum_files_is_more
    QString sizeForClean = QStringLiteral("1024");  // caching_size_for_clean
};

// "<qt>" count "</qt><sizeMB>" megabytes "</sizeMB>" for the "*.cache" files of a
// function folder; zero for a blank or missing folder. When deleting old files, files
// older than `countDaysForClean` whole days (measured from the clock's time) are
// deleted and not counted, and files whose last-write time cannot be read are passed
// over.
QString CacheFolderStatistics(const QString& folder, bool deleteOldFiles, const QString& countDaysForClean = QString(),
                              const WallClock& clock = {});

// The two numbers of a statistics text.
qint64 statisticsCount(const QString& statistics);
qint64 statisticsSizeMB(const QString& statistics);

// A file's age in whole days: its last-write time at the two-second resolution of a
// DOS date-time, to `now`, rounded down; both read as local clock times (in the zone of
// `now`), so a summer-time change in between does not count.
qint64 fileAgeDays(const QDateTime& lastWrite, const QDateTime& now);

// The inputs of the daily cleaning: the page's two folders (the precondition) and the
// running folders PathToQueries and PathToCache (where it lists and deletes).
struct CleaningInputs {
    QString pageQueriesFolder;
    QString pageCacheFolder;
    QString pathToQueries;  // running values, ending with "/"
    QString pathToCache;
    CachePolicies policies;
};

// The daily cleaning; file ages are measured from the clock's time when it begins.
// Throws when a limit it needs is not a whole number.
void CleanCacheByPolicies(const CleaningInputs& inputs, const WallClock& clock = {});


// The cache page: its function list, the selected entry and the five labels.
struct CachePageModel {
    QStringList functions;
    int selected = -1;
    QString countFunctions = QStringLiteral("Count functions (folders) : 000");
    QString countInFolder = QStringLiteral("Count cache files in folder : 000");
    QString sizeInFolder = QStringLiteral("Sum size all cache files in folder : 000 Mb");
    QString countAll = QStringLiteral("Count cache files in all folders : 000");
    QString sizeAll = QStringLiteral("Sum size all cache files : 000 Mb");
};

// The page fields the cache page reads: "Path to queries" and "Path to cache files".
struct CachePageFolders {
    QString queriesFolder;
    QString cacheFolder;
};

// "UPDATE LIST FUNCTIONS".
void cachePageUpdateList(CachePageModel& page, const CachePageFolders& folders, OperatorUi& ui);
// A click on the entry `index` of the function list.
void cachePageSelect(CachePageModel& page, int index, const CachePageFolders& folders);
// "DELETE CACHE FOR SELECTED FUNCTION".
void cachePageDeleteSelected(CachePageModel& page, const CachePageFolders& folders, OperatorUi& ui);
// "CLEAN FULL CACHE".
void cachePageCleanFull(CachePageModel& page, const CachePageFolders& folders, OperatorUi& ui);

}  // namespace veldra
