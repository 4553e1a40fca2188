// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTime>

#include "common/answerformat.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/operatorui.h"
#include "common/text.h"
#include "config/inifile.h"

namespace veldra {

namespace {

const QString kMain = QStringLiteral("main");
const QString kClientSection = QStringLiteral("connect_client_table");
const QString kWorkSection = QStringLiteral("connect_work_data");

QString boolText(bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); }

bool readBool(const IniFile& ini, const QString& key, bool fallback)
{
    qint32 v = 0;
    const auto text = ini.value(kMain, key);
    if (!text || !toInt32(*text, v)) return fallback;
    return v != 0;
}

void readConnection(const IniFile& ini, const QString& section, ConnectionFields& c)
{
    const ConnectionFields d;
    c.ip = ini.value(section, QStringLiteral("ip"), d.ip);
    c.port = ini.value(section, QStringLiteral("port"), d.port);
    c.database = ini.value(section, QStringLiteral("database"), d.database);
    c.user = ini.value(section, QStringLiteral("user"), d.user);
    c.psw = ini.value(section, QStringLiteral("psw"), d.psw);
}

void writeConnection(IniFile& ini, const QString& section, const ConnectionFields& c)
{
    ini.setValue(section, QStringLiteral("ip"), c.ip);
    ini.setValue(section, QStringLiteral("port"), c.port);
    ini.setValue(section, QStringLiteral("database"), c.database);
    ini.setValue(section, QStringLiteral("user"), c.user);
    ini.setValue(section, QStringLiteral("psw"), c.psw);
}


void checkNumber(QString& errors, const QString& text, const QString& label)
{
    qint32 v = 0;
    if (!toInt32(text, v))
        errors += u'\r' + label + QStringLiteral(" : value is wrong.");
    else if (v <= 0)
        errors += u'\r' + label + QStringLiteral(" : value is zero or negative.");
}

}  // namespace

QString defaultQueriesFolder() { return programFile(QStringLiteral("QUERIES")); }
QString defaultLogsFolder() { return programFile(QStringLiteral("LOGS")); }
QString defaultCacheFolder() { return programFile(QStringLiteral("CACHE-VELDRA")); }

SettingsPage defaultSettingsPage()
{
    SettingsPage p;
    p.pathToQueries = defaultQueriesFolder();
    p.pathToLogs = defaultLogsFolder();
    p.pathToCache = defaultCacheFolder();
    return p;
}

QString settingsFilePath() { return programFile(QStringLiteral("veldra.ini")); }

QString LoadSettings(SettingsPage& page, const QString& iniPath)
{
    try {
        const IniFile ini(iniPath);
        const SettingsPage d = defaultSettingsPage();
        page.pathToQueries = ini.value(kMain, QStringLiteral("path_to_queries"), d.pathToQueries);
        page.pathToLogs = ini.value(kMain, QStringLiteral("path_to_logs"), d.pathToLogs);
        page.pathToCache = ini.value(kMain, QStringLiteral("path_to_cache"), d.pathToCache);
        page.enabledCaching = readBool(ini, QStringLiteral("enabled_caching"), d.enabledCaching);
        page.cachingCleanOlderFiles = readBool(ini, QStringLiteral("caching_clean_older_files"), d.cachingCleanOlderFiles);
        page.cachingCleanIfSumFilesIsMore =
            readBool(ini, QStringLiteral("caching_clean_if_sum_files_is_more"), d.cachingCleanIfSumFilesIsMore);
        page.cachingCleanQuantityIsMore =
            readBool(ini, QStringLiteral("caching_clean_quantity_is_more"), d.cachingCleanQuantityIsMore);
        page.cachingCountDaysForClean =
            ini.value(kMain, QStringLiteral("caching_count_days_for_clean"), d.cachingCountDaysForClean);
        page.cachingSizeForClean = ini.value(kMain, QStringLiteral("caching_size_for_clean"), d.cachingSizeForClean);
        page.cachingQuantityForClean =
            ini.value(kMain, QStringLiteral("caching_quantity_for_clean"), d.cachingQuantityForClean);
        page.linkToDescrptService = ini.value(kMain, QStringLiteral("link_to_descrpt_service"), d.linkToDescrptService);
        page.workedPort = ini.value(kMain, QStringLiteral("worked_port"), d.workedPort);
        page.saveLogEachLines = ini.value(kMain, QStringLiteral("save_log_each_lines"), d.saveLogEachLines);
        page.resaveTimeLog = ini.value(kMain, QStringLiteral("resave_time_log"), d.resaveTimeLog);
        page.reloadClientAccess = ini.value(kMain, QStringLiteral("reload_client_access"), d.reloadClientAccess);
        page.reloadCaches = ini.value(kMain, QStringLiteral("reload_caches"), d.reloadCaches);
        qint32 format = d.formatAnswer;
        const auto formatText = ini.value(kMain, QStringLiteral("format_answer"));
        if (!formatText || !toInt32(*formatText, format)) format = d.formatAnswer;
        page.formatAnswer = (format >= 0 && format < AnswerFormat::names().size()) ? format : -1;
        page.nameFunctionForShareList =
            ini.value(kMain, QStringLiteral("name_function_for_share_list_functions"), d.nameFunctionForShareList);
        readConnection(ini, kClientSection, page.clientTable);
        readConnection(ini, kWorkSection, page.workData);
        return {};
    } catch (...) {
        return QStringLiteral("Wrong Settings data for server \r ") + currentErrorDetails();
    }
}

bool isTimeOfDay(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]?[0-9]):([0-9][0-9])$"));
    const auto m = pattern.match(text);
    if (!m.hasMatch()) return false;
    return QTime::isValid(m.captured(1).toInt(), m.captured(2).toInt(), 0);
}

QString settingsErrors(const SettingsPage& p)
{
    QString errors;
    if (!isExistingFolder(p.pathToQueries)) errors += QStringLiteral("\rPath to queries : path is empty or wrong.");
    if (!isExistingFolder(p.pathToLogs)) errors += QStringLiteral("\rPath to logs : path is empty or wrong.");
    if (p.enabledCaching && !isExistingFolder(p.pathToCache))
        errors += QStringLiteral("\rPath to cache : in case enabled caching you have empty path or wrong.");
    checkNumber(errors, p.workedPort, QStringLiteral("WORKING PORT"));
    checkNumber(errors, p.saveLogEachLines, QStringLiteral("SAVE LOG EACH XXX LINES"));
    checkNumber(errors, p.cachingCountDaysForClean, QStringLiteral("COUNT DAYS in clean cache if file is older"));
    checkNumber(errors, p.cachingSizeForClean, QStringLiteral("SIZE IN MB in clean full cache if sum size is more"));
    checkNumber(errors, p.cachingQuantityForClean,
                QStringLiteral("QUANTITY FILES in clean cache files for selected function is more"));
    if (!isTimeOfDay(p.resaveTimeLog)) errors += QStringLiteral("\rRESAVE TIME LOG : value time is empty or wrong.");
    if (!isTimeOfDay(p.reloadClientAccess))
        errors += QStringLiteral("\rRELOAD CLIENT ACCESS : value time is empty or wrong.");
    if (!isTimeOfDay(p.reloadCaches)) errors += QStringLiteral("\rRELOAD CACHE : value time is empty or wrong.");
    if (p.resaveTimeLog == p.reloadClientAccess || p.resaveTimeLog == p.reloadCaches ||
        p.reloadClientAccess == p.reloadCaches)
        errors += QStringLiteral(
            "\rNeed that time marks for : [Resave time log], [Reload clients access], [Reload caches] will different !!!");
    return errors;
}

QString SaveChanges(const SettingsPage& p, const QString& iniPath)
{
    const QString errors = settingsErrors(p);
    if (!errors.isEmpty()) return QStringLiteral("First need fix some errors :\r---------------------------\r") + errors;
    try {
        IniFile ini(iniPath);
        ini.setValue(kMain, QStringLiteral("path_to_queries"), p.pathToQueries);
        ini.setValue(kMain, QStringLiteral("path_to_logs"), p.pathToLogs);
        ini.setValue(kMain, QStringLiteral("path_to_cache"), p.pathToCache);
        ini.setValue(kMain, QStringLiteral("enabled_caching"), boolText(p.enabledCaching));
        ini.setValue(kMain, QStringLiteral("caching_clean_older_files"), boolText(p.cachingCleanOlderFiles));
        ini.setValue(kMain, QStringLiteral("caching_clean_if_sum_files_is_more"), boolText(p.cachingCleanIfSumFilesIsMore));
        ini.setValue(kMain, QStringLiteral("caching_clean_quantity_is_more"), boolText(p.cachingCleanQuantityIsMore));
        ini.setValue(kMain, QStringLiteral("caching_count_days_for_clean"), p.cachingCountDaysForClean);
        ini.setValue(kMain, QStringLiteral("caching_size_for_clean"), p.cachingSizeForClean);
        ini.setValue(kMain, QStringLiteral("caching_quantity_for_clean"), p.cachingQuantityForClean);
        ini.setValue(kMain, QStringLiteral("link_to_descrpt_service"), p.linkToDescrptService);
        ini.setValue(kMain, QStringLiteral("worked_port"), p.workedPort);
        ini.setValue(kMain, QStringLiteral("save_log_each_lines"), p.saveLogEachLines);
        ini.setValue(kMain, QStringLiteral("resave_time_log"), p.resaveTimeLog);
        ini.setValue(kMain, QStringLiteral("reload_client_access"), p.reloadClientAccess);
        ini.setValue(kMain, QStringLiteral("reload_caches"), p.reloadCaches);
        const int format = (p.formatAnswer >= 0 && p.formatAnswer < AnswerFormat::names().size()) ? p.formatAnswer : -1;
        ini.setValue(kMain, QStringLiteral("format_answer"), QString::number(format));
        ini.setValue(kMain, QStringLiteral("name_function_for_share_list_functions"), p.nameFunctionForShareList);
        ini.save();
    } catch (...) {
        return QStringLiteral("SAVE CHANGES ") + currentErrorDetails();
    }
    return QStringLiteral("Settings was successful saved !");
}

QString SaveConnections(const SettingsPage& p, const QString& iniPath)
{
    try {
        IniFile ini(iniPath);
        writeConnection(ini, kClientSection, p.clientTable);
        writeConnection(ini, kWorkSection, p.workData);
        ini.save();
    } catch (...) {
        return QStringLiteral("SAVE CONNECTIONS ") + currentErrorDetails();
    }
    return {};
}

QString withTrailingSlash(const QString& folder)
{
    if (folder.isEmpty() || folder.endsWith(u'/')) return folder;
    return folder + u'/';
}

TServerSettings ApplyRunningSettings(const SettingsPage& p)
{
    TServerSettings s;
    s.PathToQueries = withTrailingSlash(p.pathToQueries);
    s.PathToLogs = withTrailingSlash(p.pathToLogs);
    s.PathToCache = withTrailingSlash(p.pathToCache);
    s.EnabledCaching = p.enabledCaching;
    if (!toInt32(p.workedPort, s.WorkedPort)) s.WorkedPort = 35000;
    if (!toInt32(p.saveLogEachLines, s.SaveLogEachLines)) s.SaveLogEachLines = 50000;
    s.ResaveTimeLog = p.resaveTimeLog;
    s.ReloadClientAccess = p.reloadClientAccess;
    s.ReloadCaches = p.reloadCaches;
    const QString format =
        (p.formatAnswer >= 0 && p.formatAnswer < AnswerFormat::names().size()) ? AnswerFormat::names().at(p.formatAnswer) : QString();
    s.FormatAnswer = trim(format).isEmpty() ? QStringLiteral("JSON") : format;
    s.NameFunctionForShareList = p.nameFunctionForShareList;
    return s;
}

CreateFoldersResult CreateFoldersByDefault(const SettingsPage& page)
{
    CreateFoldersResult r{page, {}};
    struct Target {
        const char* name;
        QString SettingsPage::*field;
    };
    const Target targets[] = {{"QUERIES", &SettingsPage::pathToQueries},
                              {"LOGS", &SettingsPage::pathToLogs},
                              {"CACHE-VELDRA", &SettingsPage::pathToCache}};
    try {
        for (const Target& t : targets) {
            const QString path = programFile(QString::fromLatin1(t.name));
            if (QFileInfo(path).isDir()) continue;
            if (!QDir().mkdir(path)) throw FileError(QStringLiteral("Cannot create folder \"%1\"").arg(path));
            r.page.*t.field = path;
        }
    } catch (...) {
        r.message = QStringLiteral("CREATE FOLDERS BY DEFAULT ") + currentErrorDetails();
    }
    return r;
}

QString ChooseFolder(OperatorUi& ui, const QString& fieldText)
{
    const QString chosen = ui.chooseFolder(QString());
    return chosen.isEmpty() ? fieldText : chosen;
}

QString TestPort(const QString& portText)
{
    qint32 port = 0;
    if (!toInt32(portText, port)) return QStringLiteral("Wrong value to port. Is not integer value. Pls fix value.");
    try {
        // A port outside 1..65535 would otherwise wrap around or pick any free port.
        if (port < 1 || port > 65535)
            throw Error(QStringLiteral("ERangeError"), QStringLiteral("Port %1 is out of range 1..65535").arg(port));
        QTcpServer testserver;
        if (!testserver.listen(QHostAddress::AnyIPv4, quint16(port)))
            throw Error(QStringLiteral("ESocketError"), testserver.errorString());
        testserver.close();
    } catch (...) {
        return QStringLiteral("Port is blocked or already use.\r ") + currentErrorDetails();
    }
    return QStringLiteral("Port is free for use.");
}

}  // namespace veldra
