// SPDX-License-Identifier: GPL-3.0-or-later
// The MAIN SETTINGS tab through its widgets: the file into the fields, SAVE CHANGES,
// CREATE FOLDERS BY DEFAULT, the folder buttons, the port test and the time fields.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>

#include "config/inifile.h"
#include "config/settings.h"
#include "console/consoletest.h"
#include "console/mainsettingstab.h"

using namespace veldra;
using namespace veldra::test;

class MainSettingsTabTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { mainthread::install(); }

    void theFileFillsTheFieldsAsItStands()
    {
        WindowFixture f;
        putBytes(f.path(QStringLiteral("veldra.ini")),
                 "[main]\r\nworked_port=abc\r\nformat_answer=7\r\nenabled_caching=0\r\nreload_caches=3:00\r\n");
        MainSettingsTab& tab = *f.open().mainSettingsTab();
        QCOMPARE(tab.workingPort()->text(), QStringLiteral("abc"));
        QCOMPARE(tab.answerFormat()->currentIndex(), -1);  // no selection
        QVERIFY(!tab.enableCaching()->isChecked());
        QCOMPARE(tab.reloadCaches()->text(), QStringLiteral("3:00"));
        QCOMPARE(tab.pathToQueries()->text(), f.path(QStringLiteral("QUERIES")));  // default
        QCOMPARE(tab.answerFormat()->count(), 5);
        QCOMPARE(tab.answerFormat()->itemText(2), QStringLiteral("TXT[TAB]"));

        // No selection is saved as -1 once the rest is right.
        f.makeFolder(QStringLiteral("QUERIES"));
        f.makeFolder(QStringLiteral("LOGS"));
        tab.workingPort()->setText(QStringLiteral("35001"));
        tab.saveChangesButton()->click();
        QCOMPARE(f.ui.messages, QStringList{QStringLiteral("Settings was successful saved !")});
        const IniFile ini(f.path(QStringLiteral("veldra.ini")));
        QCOMPARE(ini.value(QStringLiteral("main"), QStringLiteral("format_answer"), QString()), QStringLiteral("-1"));
        QCOMPARE(ini.value(QStringLiteral("main"), QStringLiteral("worked_port"), QString()), QStringLiteral("35001"));
        QCOMPARE(ini.value(QStringLiteral("main"), QStringLiteral("path_to_cache"), QString()),
                 f.path(QStringLiteral("CACHE-VELDRA")));  // not checked: caching is off
    }

    void saveChangesListsEveryFailedCheckInOrderAndWritesNothing()
    {
        WindowFixture f;
        MainSettingsTab& tab = *f.open().mainSettingsTab();
        tab.pathToQueries()->setText(QStringLiteral("   "));
        tab.pathToLogs()->setText(f.path(QStringLiteral("missing")));
        tab.pathToCache()->clear();
        tab.workingPort()->setText(QStringLiteral("x1"));
        tab.saveLogEachLines()->setText(QStringLiteral("0"));
        tab.countDays()->setText(QStringLiteral("1.5"));
        tab.sizeMb()->setText(QStringLiteral("-3"));
        tab.quantityFiles()->clear();
        tab.resaveTimeLog()->setText(QStringLiteral("24:00"));
        tab.reloadClientAccess()->clear();
        tab.reloadCaches()->setText(QStringLiteral("24:00"));
        // Enter in a field presses SAVE CHANGES.
        QTest::keyClick(tab.shareListName(), Qt::Key_Return);
        QCOMPARE(f.ui.messages.size(), 1);
        QCOMPARE(f.ui.messages[0],
                 QStringLiteral("First need fix some errors :\r---------------------------\r"
                                "\rPath to queries : path is empty or wrong."
                                "\rPath to logs : path is empty or wrong."
                                "\rPath to cache : in case enabled caching you have empty path or wrong."
                                "\rWORKING PORT : value is wrong."
                                "\rSAVE LOG EACH XXX LINES : value is zero or negative."
                                "\rCOUNT DAYS in clean cache if file is older : value is wrong."
                                "\rSIZE IN MB in clean full cache if sum size is more : value is zero or negative."
                                "\rQUANTITY FILES in clean cache files for selected function is more : value is wrong."
                                "\rRESAVE TIME LOG : value time is empty or wrong."
                                "\rRELOAD CLIENT ACCESS : value time is empty or wrong."
                                "\rRELOAD CACHE : value time is empty or wrong."
                                "\rNeed that time marks for : [Resave time log], [Reload clients access], [Reload caches] will different !!!"));
        QVERIFY(!QFile::exists(f.path(QStringLiteral("veldra.ini"))));
    }

    void timeFieldsTakeHourColonMinute()
    {
        WindowFixture f;
        QLineEdit* field = f.open().mainSettingsTab()->resaveTimeLog();
        field->clear();
        QTest::keyClicks(field, QStringLiteral("7a:0b5x9"));
        QCOMPARE(field->text(), QStringLiteral("7:05"));
        QCOMPARE(f.window->control().page.resaveTimeLog, QStringLiteral("7:05"));
        field->clear();
        QTest::keyClicks(field, QStringLiteral("123:45"));
        QCOMPARE(field->text(), QStringLiteral("12:45"));
    }

    void createFoldersByDefaultFillsOnlyTheFieldsOfCreatedFolders()
    {
        WindowFixture f;
        f.makeFolder(QStringLiteral("QUERIES"));
        MainSettingsTab& tab = *f.open().mainSettingsTab();
        for (QLineEdit* e : {tab.pathToQueries(), tab.pathToLogs(), tab.pathToCache()}) e->setText(QStringLiteral("old"));
        tab.createFoldersButton()->click();
        QCOMPARE(tab.pathToQueries()->text(), QStringLiteral("old"));
        QCOMPARE(tab.pathToLogs()->text(), f.path(QStringLiteral("LOGS")));
        QCOMPARE(tab.pathToCache()->text(), f.path(QStringLiteral("CACHE-VELDRA")));
        QVERIFY(QFileInfo(f.path(QStringLiteral("LOGS"))).isDir());
        QCOMPARE(f.window->control().page.pathToLogs, f.path(QStringLiteral("LOGS")));
        QVERIFY(f.ui.messages.isEmpty());
        QVERIFY(!QFile::exists(f.path(QStringLiteral("veldra.ini"))));  // nothing saved
    }

    void folderButtonsPutTheChosenFolderIntoTheirField()
    {
        WindowFixture f;
        MainSettingsTab& tab = *f.open().mainSettingsTab();
        const std::pair<QPushButton*, QLineEdit*> rows[] = {{tab.chooseQueriesButton(), tab.pathToQueries()},
                                                            {tab.chooseLogsButton(), tab.pathToLogs()},
                                                            {tab.chooseCacheButton(), tab.pathToCache()}};
        for (const auto& [button, field] : rows) {
            const QString before = field->text();
            f.ui.folderAnswer.clear();  // cancelled
            button->click();
            QCOMPARE(field->text(), before);
            f.ui.folderAnswer = QStringLiteral("/chosen/") + field->objectName();
            button->click();
            QCOMPARE(field->text(), f.ui.folderAnswer);
        }
        QCOMPARE(f.window->control().page.pathToCache, QStringLiteral("/chosen/EditPathToCache"));
    }

    void portTestOnABusyAFreeAndAWrongPort()
    {
        WindowFixture f;
        MainSettingsTab& tab = *f.open().mainSettingsTab();
        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::AnyIPv4));
        tab.workingPort()->setText(QString::number(busy.serverPort()));
        tab.testPortButton()->click();
        busy.close();
        tab.testPortButton()->click();  // free now
        tab.workingPort()->setText(QStringLiteral("abc"));
        tab.testPortButton()->click();
        QCOMPARE(f.ui.messages.size(), 3);
        QVERIFY2(f.ui.messages[0].startsWith(QStringLiteral("Port is blocked or already use.\r Error |  msg = [")),
                 qPrintable(f.ui.messages[0]));
        QCOMPARE(f.ui.messages[1], QStringLiteral("Port is free for use."));
        QCOMPARE(f.ui.messages[2], QStringLiteral("Wrong value to port. Is not integer value. Pls fix value."));
    }
};

QTEST_MAIN(MainSettingsTabTest)
#include "test_mainsettingstab.moc"
