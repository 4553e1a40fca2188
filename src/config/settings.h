// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings page as data, the settings file veldra.ini and the operations of the
// page: load, SAVE CHANGES, save connections, the running settings taken at START,
// CREATE FOLDERS BY DEFAULT and the port test.
#include <QString>
#include <QStringList>

#include "config/serversettings.h"

namespace veldra {

class OperatorUi;

// One database connection as the page holds it: five texts.
struct ConnectionFields {
    QString ip = QStringLiteral("localhost");
    QString port = QStringLiteral("3306");
    QString database = QStringLiteral("database");
    QString user = QStringLiteral("user");
    QString psw = QStringLiteral("password");

    bool operator==(const ConnectionFields&) const = default;
};

// The values of the settings page, as its fields hold them. The member defaults are the
// defaults of the settings file, except the three folders, which depend on the program
// folder: use defaultSettingsPage() for a page with every default.
struct SettingsPage {
    QString pathToQueries;
    QString pathToLogs;
    QString pathToCache;
    bool enabledCaching = true;
    bool cachingCleanOlderFiles = false;
    bool cachingCleanIfSumFilesIsMore = true;
    bool cachingCleanQuantityIsMore = true;
    QString cachingCountDaysForClean = QStringLiteral("30");
    QString cachingSizeForClean = QStringLiteral("1024");
    QString cachingQuantityForClean = QStringLiteral("100000");
    QString linkToDescrptService = QStringLiteral("https://veldra.example/description");
    QString workedPort = QStringLiteral("35000");
    QString saveLogEachLines = QStringLiteral("50000");
    QString resaveTimeLog = QStringLiteral("00:01");
    QString reloadClientAccess = QStringLiteral("23:59");
    QString reloadCaches = QStringLiteral("03:00");
    // Index of the selected item of AnswerFormat::names(); -1 when none is selected.
    int formatAnswer = 4;
    QString nameFunctionForShareList = QStringLiteral("GetShareListDescriptionFunctions");

    ConnectionFields clientTable;  // section connect_client_table
    ConnectionFields workData;     // section connect_work_data

    bool operator==(const SettingsPage&) const = default;
};

// Program folder + "/QUERIES", "/LOGS", "/CACHE-VELDRA".
QString defaultQueriesFolder();
QString defaultLogsFolder();
QString defaultCacheFolder();
SettingsPage defaultSettingsPage();

// The settings file of the program folder.
QString settingsFilePath();

// Fills every field from the file; a missing file or key gives the key's default.
// Returns "" on success, else "Wrong Settings data for server \r Error |  msg = [...]"
// (fields read before the failure keep their new values).
QString LoadSettings(SettingsPage& page, const QString& iniPath);

// The checks of SAVE CHANGES, in order; the combined error text (each message preceded
// by a carriage return), "" when every check passes.
QString settingsErrors(const SettingsPage& page);

// SAVE CHANGES: checks, then writes the 18 keys of section main. Returns the message to
// show: the list of errors, "Settings was successful saved !", or the write error.
QString SaveChanges(const SettingsPage& page, const QString& iniPath);

// Writes connect_client_table, then connect_work_data. Returns "" or the write error.
QString SaveConnections(const SettingsPage& page, const QString& iniPath);

// The running values taken from the page at START.
TServerSettings ApplyRunningSettings(const SettingsPage& page);

// A folder text with "/" appended unless it ends with one; an empty text stays empty.
QString withTrailingSlash(const QString& folder);

// True for "h:mm" or "hh:mm", a valid 24-hour time of day.
bool isTimeOfDay(const QString& text);

// CREATE FOLDERS BY DEFAULT: creates QUERIES, LOGS and CACHE-VELDRA in the program
// folder when missing and puts each created path into its field.
struct CreateFoldersResult {
    SettingsPage page;  // the page values afterwards
    QString message;    // "" on success, else the error to show
};
CreateFoldersResult CreateFoldersByDefault(const SettingsPage& page);

// A "..." button beside a folder field: the folder dialog with nothing preselected; the
// chosen folder replaces the field text, a cancelled dialog leaves it as it was.
QString ChooseFolder(OperatorUi& ui, const QString& fieldText);

// The port test: binds a listening socket on all local IPv4 addresses and closes it.
// Returns "Port is free for use.", "Port is blocked or already use.\r Error |  msg = [...]"
// or "Wrong value to port. Is not integer value. Pls fix value.".
QString TestPort(const QString& portText);

}  // namespace veldra
