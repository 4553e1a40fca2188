// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The running settings: taken from the settings page at START, read by request
// threads, the event log and the scheduler while the server runs.
#include <QString>

namespace veldra {

struct TServerSettings {
    QString PathToQueries;  // folder texts end with "/" (an empty text stays empty)
    QString PathToLogs;
    QString PathToCache;
    bool EnabledCaching = false;
    qint32 WorkedPort = 0;
    qint32 SaveLogEachLines = 0;
    QString ResaveTimeLog;       // hh:mm
    QString ReloadClientAccess;  // hh:mm
    QString ReloadCaches;        // hh:mm
    QString FormatAnswer;        // a format name, "JSON" when none is selected
    QString NameFunctionForShareList;
};

// The answer cache is in use: caching switched on and the cache folder existing.
bool cacheInUse(const TServerSettings& settings);

}  // namespace veldra
