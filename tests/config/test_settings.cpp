// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <sys/stat.h>

#include "common/files.h"
#include "config/inifile.h"
#include "config/settings.h"
#include "support/fullfilesystem.h"
#include "support/support.h"

using namespace veldra;
using namespace veldra::test;

namespace {

// 0600: read and write for the owner only.
const QFile::Permissions kPrivate = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;



class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        setProgramFolder(dir.path());
        ini = dir.filePath(QStringLiteral("veldra.ini"));
        for (const char* sub : {"q", "l", "c"}) QDir(dir.path()).mkdir(QString::fromLatin1(sub));
    }
    void TearDown() override { setProgramFolder(QString()); }

    // A page that passes every check.
    SettingsPage validPage() const
    {
        SettingsPage p = defaultSettingsPage();
        p.pathToQueries = dir.filePath(QStringLiteral("q"));
        p.pathToLogs = dir.filePath(QStringLiteral("l"));
        p.pathToCache = dir.filePath(QStringLiteral("c"));
        return p;
    }

    QTemporaryDir dir;
    QString ini;
};

}  // namespace

TEST_F(SettingsTest, IniKeepsForeignLinesCommentsAndLineEndsWhenSaving)
{
    // Written by hand: LF line ends, other letter case, blanks around "=", comments,
    // foreign keys and sections, no line end after the last line.
    const QByteArray before =
        "; settings of the server\n"
        "[Main]\n"
        "Path_To_Queries = /old/q\n"
        "; path_to_logs=/commented\n"
        "foreign_key=keep me  \n"
        "\n"
        "[other]\n"
        "path_to_queries=/not/this/one\n"
        "[CONNECT_WORK_DATA]\n"
        "ip=db.example";
    putBytes(ini, before);

    SettingsPage page = validPage();
    page.workData.ip = QStringLiteral("10.0.0.9");
    EXPECT_EQ(SaveChanges(page, ini), QStringLiteral("Settings was successful saved !"));
    EXPECT_EQ(SaveConnections(page, ini), QString());

    const QByteArray after = fileBytes(ini);
    const QList<QByteArray> lines = after.split('\n');
    // Every foreign line is still there, unchanged, in its place.
    EXPECT_EQ(lines.at(0), "; settings of the server");
    EXPECT_EQ(lines.at(1), "[Main]");
    EXPECT_EQ(lines.at(2), "Path_To_Queries =" + page.pathToQueries.toUtf8());
    EXPECT_EQ(lines.at(3), "; path_to_logs=/commented");
    EXPECT_EQ(lines.at(4), "foreign_key=keep me  ");
    // Missing keys go after the last line of their section, before its blank line.
    EXPECT_EQ(lines.at(5), "path_to_logs=" + page.pathToLogs.toUtf8());
    EXPECT_TRUE(after.contains("\n\n[other]\npath_to_queries=/not/this/one\n[CONNECT_WORK_DATA]\nip=10.0.0.9\n"));
    EXPECT_FALSE(after.contains('\r'));
    EXPECT_FALSE(after.startsWith("\xEF\xBB\xBF"));
    // A missing section is added at the end of the file.
    EXPECT_TRUE(after.contains("\n[connect_client_table]\nip=localhost\n"));

    SettingsPage back;
    EXPECT_EQ(LoadSettings(back, ini), QString());
    EXPECT_EQ(back, page);
    EXPECT_EQ(IniFile(ini).value(QStringLiteral("MAIN"), QStringLiteral("FOREIGN_KEY")), QStringLiteral("keep me"));
}

TEST_F(SettingsTest, NewIniIsPrivateAndKeepsTheTableOrder)
{
    ASSERT_EQ(SaveConnections(validPage(), ini), QString());
    EXPECT_EQ(QFileInfo(ini).permissions(), kPrivate);
    ASSERT_EQ(SaveChanges(validPage(), ini), QStringLiteral("Settings was successful saved !"));
    // Rewriting keeps the permissions.
    EXPECT_EQ(QFileInfo(ini).permissions(), kPrivate);

    const QByteArray bytes = fileBytes(ini);
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF[connect_client_table]\r\nip=localhost\r\nport=3306\r\ndatabase=database\r\n"
                                 "user=user\r\npsw=password\r\n[connect_work_data]\r\nip=localhost\r\n"));
    EXPECT_TRUE(bytes.contains("[main]\r\npath_to_queries="));
    EXPECT_TRUE(bytes.endsWith("\r\nenabled_caching=1\r\ncaching_clean_older_files=0\r\n"
                               "caching_clean_if_sum_files_is_more=1\r\ncaching_clean_quantity_is_more=1\r\n"
                               "caching_count_days_for_clean=30\r\ncaching_size_for_clean=1024\r\n"
                               "caching_quantity_for_clean=100000\r\n"
                               "link_to_descrpt_service=https://veldra.example/description\r\n"
                               "worked_port=35000\r\nsave_log_each_lines=50000\r\nresave_time_log=00:01\r\n"
                               "reload_client_access=23:59\r\nreload_caches=03:00\r\nformat_answer=4\r\n"
                               "name_function_for_share_list_functions=GetShareListDescriptionFunctions\r\n"));
}

// A disk that fills up during a save: both save buttons report the file and the reason,
// and veldra.ini stays whole; under umask 022 and with a link planted at its name it is
// written owner-only, in place of the link.
TEST_F(SettingsTest, FailedSaveKeepsTheFileWholeAndLinksAreReplaced)
{
    SettingsPage p = validPage();
    p.linkToDescrptService = QString(3000, u'x');  // a file of more than 4096 bytes
    ASSERT_EQ(SaveChanges(p, ini), QStringLiteral("Settings was successful saved !"));
    ASSERT_EQ(SaveConnections(p, ini), QString());
    const QByteArray before = fileBytes(ini);
    ASSERT_GT(before.size(), 3000);
    p.workedPort = QStringLiteral("8080");
    {
        const FileSizeLimit full(2048);
        for (const QString& result : {SaveChanges(p, ini), SaveConnections(p, ini)}) {
            EXPECT_TRUE(result.contains(ini)) << result.toStdString();
            EXPECT_TRUE(result.contains(qt_error_string(EFBIG))) << result.toStdString();
            EXPECT_NE(result, QStringLiteral("Settings was successful saved !"));
        }
    }
    EXPECT_EQ(fileBytes(ini), before);
    EXPECT_EQ(folderEntries(dir.path()), (QStringList{"c", "l", "q", "veldra.ini"}));

    const mode_t mask = ::umask(022);
    const QString victim = dir.filePath(QStringLiteral("victim"));
    putBytes(victim, "victim");
    ASSERT_TRUE(QFile::remove(ini));
    ASSERT_TRUE(QFile::link(victim, ini));
    EXPECT_EQ(SaveConnections(p, ini), QString());
    ::umask(mask);
    EXPECT_FALSE(QFileInfo(ini).isSymLink());
    EXPECT_EQ(QFileInfo(ini).permissions(), kPrivate);
    EXPECT_EQ(fileBytes(victim), QByteArray("victim"));
}

TEST_F(SettingsTest, EveryFieldRoundTrips)
{
    SettingsPage p = validPage();
    p.pathToCache = QStringLiteral(" ");  // caching off: any text goes
    p.enabledCaching = false;
    p.cachingCleanOlderFiles = true;
    p.cachingCleanIfSumFilesIsMore = false;
    p.cachingCleanQuantityIsMore = false;
    p.cachingCountDaysForClean = QStringLiteral("7");
    p.cachingSizeForClean = QStringLiteral("99");
    p.cachingQuantityForClean = QStringLiteral("12");
    p.linkToDescrptService = QStringLiteral("\"quoted\"");
    p.workedPort = QStringLiteral("8080");
    p.saveLogEachLines = QStringLiteral("10");
    p.resaveTimeLog = QStringLiteral("1:05");
    p.reloadClientAccess = QStringLiteral("22:00");
    p.reloadCaches = QStringLiteral("23:30");
    p.formatAnswer = 1;
    p.nameFunctionForShareList = QStringLiteral("  list = all  ");
    p.clientTable = {QStringLiteral("a.example"), QStringLiteral("abc"), QStringLiteral("clients"),
                     QStringLiteral("Jörg"), QStringLiteral(" p;w=\"x\" ")};
    p.workData = {QStringLiteral("b.example"), QStringLiteral("3307"), QStringLiteral("work"), QStringLiteral("w"),
                  QString()};
    ASSERT_EQ(SaveChanges(p, ini), QStringLiteral("Settings was successful saved !"));
    ASSERT_EQ(SaveConnections(p, ini), QString());

    SettingsPage back;
    ASSERT_EQ(LoadSettings(back, ini), QString());
    EXPECT_EQ(back, p);
}

TEST_F(SettingsTest, LoadWithoutFileGivesDefaultsAndCreatesNothing)
{
    SettingsPage p;
    p.workedPort = QStringLiteral("1");
    EXPECT_EQ(LoadSettings(p, ini), QString());
    EXPECT_EQ(p, defaultSettingsPage());
    EXPECT_EQ(p.pathToQueries, dir.path() + QStringLiteral("/QUERIES"));
    EXPECT_FALSE(QFile::exists(ini));
}

TEST_F(SettingsTest, HandEditedValuesLoadAsTheyStand)
{
    putBytes(ini,
             "[main]\r\nformat_answer=7\r\nworked_port=abc\r\nenabled_caching=x\r\ncaching_clean_older_files=2\r\n"
             "caching_clean_quantity_is_more=0\r\n");
    SettingsPage p;
    ASSERT_EQ(LoadSettings(p, ini), QString());
    EXPECT_EQ(p.formatAnswer, -1);
    EXPECT_EQ(p.workedPort, QStringLiteral("abc"));
    EXPECT_TRUE(p.enabledCaching);          // not an integer: default
    EXPECT_TRUE(p.cachingCleanOlderFiles);  // any integer but 0 is on
    EXPECT_FALSE(p.cachingCleanQuantityIsMore);

    const TServerSettings s = ApplyRunningSettings(p);
    EXPECT_EQ(s.FormatAnswer, QStringLiteral("JSON"));
    EXPECT_EQ(s.WorkedPort, 35000);

    // No selection is written as -1.
    SettingsPage valid = validPage();
    valid.formatAnswer = -1;
    ASSERT_EQ(SaveChanges(valid, ini), QStringLiteral("Settings was successful saved !"));
    EXPECT_EQ(IniFile(ini).value(QStringLiteral("main"), QStringLiteral("format_answer")), QStringLiteral("-1"));
}

TEST_F(SettingsTest, UnreadableFileGivesTheFailureText)
{
    QDir(dir.path()).mkdir(QStringLiteral("veldra.ini"));  // a folder where the file should be
    SettingsPage p;
    const QString text = LoadSettings(p, ini);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Wrong Settings data for server \r Error |  msg = [EFileError : ")))
        << text.toStdString();
}

TEST_F(SettingsTest, SaveChangesListsEveryFailedCheckInOrderAndWritesNothing)
{
    SettingsPage p;
    p.pathToQueries = QStringLiteral("  ");
    p.pathToLogs = dir.filePath(QStringLiteral("missing"));
    p.enabledCaching = true;
    p.pathToCache = QString();
    p.workedPort = QStringLiteral("port");
    p.saveLogEachLines = QStringLiteral("0");
    p.cachingCountDaysForClean = QStringLiteral("-3");
    p.cachingSizeForClean = QStringLiteral("1.5");
    p.cachingQuantityForClean = QString();
    p.resaveTimeLog = QStringLiteral("24:00");
    p.reloadClientAccess = QStringLiteral("12:60");
    p.reloadCaches = QStringLiteral("24:00");
    const QString expected = QStringLiteral(
        "First need fix some errors :\r---------------------------\r"
        "\rPath to queries : path is empty or wrong."
        "\rPath to logs : path is empty or wrong."
        "\rPath to cache : in case enabled caching you have empty path or wrong."
        "\rWORKING PORT : value is wrong."
        "\rSAVE LOG EACH XXX LINES : value is zero or negative."
        "\rCOUNT DAYS in clean cache if file is older : value is zero or negative."
        "\rSIZE IN MB in clean full cache if sum size is more : value is wrong."
        "\rQUANTITY FILES in clean cache files for selected function is more : value is wrong."
        "\rRESAVE TIME LOG : value time is empty or wrong."
        "\rRELOAD CLIENT ACCESS : value time is empty or wrong."
        "\rRELOAD CACHE : value time is empty or wrong."
        "\rNeed that time marks for : [Resave time log], [Reload clients access], [Reload caches] will different !!!");
    EXPECT_EQ(SaveChanges(p, ini), expected);
    EXPECT_FALSE(QFile::exists(ini));
}

TEST_F(SettingsTest, SingleChecks)
{
    SettingsPage p = validPage();
    p.enabledCaching = false;
    p.pathToCache = QString();
    EXPECT_EQ(settingsErrors(p), QString());  // caching off: the cache folder is not tested

    p = validPage();
    p.resaveTimeLog = QStringLiteral("03:00");
    p.reloadCaches = QStringLiteral("03:00");
    EXPECT_EQ(settingsErrors(p),
              QStringLiteral("\rNeed that time marks for : [Resave time log], [Reload clients access], [Reload caches] "
                             "will different !!!"));

    p = validPage();
    p.workedPort = QStringLiteral("99999999999");  // beyond 32 bits is not a whole number here
    EXPECT_EQ(settingsErrors(p), QStringLiteral("\rWORKING PORT : value is wrong."));
}

TEST(TimeOfDay, Forms)
{
    for (const char* ok : {"0:00", "03:00", "9:59", "23:59", "00:01"})
        EXPECT_TRUE(isTimeOfDay(QString::fromLatin1(ok))) << ok;
    for (const char* bad : {"", "24:00", "12:60", "123:00", "1:5", "01:5", " 1:00", "1:00 ", "a:bc", "12-00", "-1:00"})
        EXPECT_FALSE(isTimeOfDay(QString::fromLatin1(bad))) << bad;
}

TEST(RunningSettings, FolderRuleNumbersAndFormat)
{
    SettingsPage p;
    p.pathToQueries = QStringLiteral("/srv/q/");
    p.pathToLogs = QStringLiteral("/srv/logs");
    p.pathToCache = QString();
    p.enabledCaching = false;
    p.workedPort = QStringLiteral("8080");
    p.saveLogEachLines = QStringLiteral("many");
    p.resaveTimeLog = QStringLiteral("1:00");
    p.formatAnswer = 2;
    p.nameFunctionForShareList = QStringLiteral(" Share ");
    const TServerSettings s = ApplyRunningSettings(p);
    EXPECT_EQ(s.PathToQueries, QStringLiteral("/srv/q/"));
    EXPECT_EQ(s.PathToLogs, QStringLiteral("/srv/logs/"));
    EXPECT_EQ(s.PathToCache, QString());
    EXPECT_FALSE(s.EnabledCaching);
    EXPECT_EQ(s.WorkedPort, 8080);
    EXPECT_EQ(s.SaveLogEachLines, 50000);
    EXPECT_EQ(s.ResaveTimeLog, QStringLiteral("1:00"));
    EXPECT_EQ(s.ReloadClientAccess, QStringLiteral("23:59"));
    EXPECT_EQ(s.FormatAnswer, QStringLiteral("TXT[TAB]"));
    EXPECT_EQ(s.NameFunctionForShareList, QStringLiteral(" Share "));
}

TEST_F(SettingsTest, CreateFoldersByDefaultCreatesOnlyMissingFolders)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("QUERIES")));
    SettingsPage p = validPage();
    const CreateFoldersResult r = CreateFoldersByDefault(p);
    EXPECT_EQ(r.message, QString());
    EXPECT_EQ(r.page.pathToQueries, p.pathToQueries);  // existed: unchanged
    EXPECT_EQ(r.page.pathToLogs, dir.path() + QStringLiteral("/LOGS"));
    EXPECT_EQ(r.page.pathToCache, dir.path() + QStringLiteral("/CACHE-VELDRA"));
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/CACHE-VELDRA")).isDir());
    EXPECT_FALSE(QFile::exists(ini));

    // A file in the way of a folder: the error is reported, earlier fields keep their change.
    QTemporaryDir other;
    setProgramFolder(other.path());
    putBytes(other.filePath(QStringLiteral("LOGS")), "x");
    const CreateFoldersResult r2 = CreateFoldersByDefault(p);
    EXPECT_TRUE(r2.message.startsWith(QStringLiteral("CREATE FOLDERS BY DEFAULT Error |  msg = [EFileError : ")));
    EXPECT_EQ(r2.page.pathToQueries, other.path() + QStringLiteral("/QUERIES"));
    EXPECT_EQ(r2.page.pathToLogs, p.pathToLogs);
}

TEST(PortTest, Messages)
{
    QTcpServer busy;
    ASSERT_TRUE(busy.listen(QHostAddress::AnyIPv4, 0));
    const QString port = QString::number(busy.serverPort());
    const QString blocked = TestPort(port);
    EXPECT_TRUE(blocked.startsWith(QStringLiteral("Port is blocked or already use.\r Error |  msg = [ESocketError : ")))
        << blocked.toStdString();
    busy.close();
    EXPECT_EQ(TestPort(port), QStringLiteral("Port is free for use."));
    // The test socket is closed again: the port can be taken right after.
    EXPECT_TRUE(busy.listen(QHostAddress::AnyIPv4, quint16(port.toInt())));
    busy.close();

    EXPECT_EQ(TestPort(QStringLiteral("80a")), QStringLiteral("Wrong value to port. Is not integer value. Pls fix value."));
    EXPECT_TRUE(TestPort(QStringLiteral("70000")).startsWith(QStringLiteral("Port is blocked or already use.\r Error |  msg = [ERangeError : ")));
    EXPECT_TRUE(TestPort(QStringLiteral("0")).startsWith(QStringLiteral("Port is blocked or already use.\r")));
}

TEST(ChooseFolder, ChosenOrUnchanged)
{
    test::ScriptedOperator ui;
    ui.folderAnswer = QStringLiteral("/srv/chosen");
    EXPECT_EQ(ChooseFolder(ui, QStringLiteral("/old")), QStringLiteral("/srv/chosen"));
    ui.folderAnswer.clear();  // cancelled
    EXPECT_EQ(ChooseFolder(ui, QStringLiteral("/old")), QStringLiteral("/old"));
}
