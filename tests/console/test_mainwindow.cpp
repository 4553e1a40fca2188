// SPDX-License-Identifier: GPL-3.0-or-later
// The main window offscreen: frame, title, navigation, status page, names of the
// controls, the long-wait state, and START/STOP through the window on a real database.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextCursor>
#include <thread>

#include "config/inifile.h"
#include "config/settings.h"
#include "console/cachepage.h"
#include "console/consoletest.h"
#include "console/connectionstab.h"
#include "console/mainsettingstab.h"
#include "console/statuspage.h"
#include "db/dbconnection.h"
#include "queries/queryfile.h"
#include "server/pipeline_fixture.h"
#include "version.h"

using namespace veldra;
using namespace veldra::test;

namespace {

QString accessibleName(QWidget* w)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Walks every page of the window as assistive technology reads it: a label and a
// caption are read as they stand at this moment; a field, list or picture button without
// text of its own has a name. Returns what is read wrongly.
QStringList misread(TForm1& w)
{
    QStringList faults;
    for (QWidget* c : w.findChildren<QWidget*>()) {
        // the tab widget's own scroll buttons and Qt's inner widgets aside
        if (c->objectName().startsWith(QStringLiteral("qt_")) || qobject_cast<QTabBar*>(c->parentWidget())) continue;
        const QString what = QString::fromLatin1(c->metaObject()->className()) + u' ' + c->objectName();
        const QString name = accessibleName(c);
        QString shown;
        if (auto* label = qobject_cast<QLabel*>(c))
            shown = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(c))
            shown = button->text();
        if (!shown.isEmpty() || qobject_cast<QLabel*>(c)) {
            if (name != shown) faults << what + QStringLiteral(" is read [") + name + QStringLiteral("] and shows [") + shown + u']';
        } else if ((qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) || qobject_cast<QComboBox*>(c) ||
                    qobject_cast<QListWidget*>(c) || qobject_cast<QPlainTextEdit*>(c)) &&
                   name.trimmed().isEmpty()) {
            faults << what + QStringLiteral(" has no name");
        }
    }
    return faults;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { mainthread::install(); }

    void titleGetsTheVersionOnce()
    {
        WindowFixture f;
        f.window = std::make_unique<TForm1>();
        TForm1& w = *f.window;
        w.setOperatorUi(f.ui);
        QCOMPARE(w.windowTitle(), QStringLiteral("Veldra | server "));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (int i = 0; i < 3; ++i) w.repaint();
        QCOMPARE(w.windowTitle(), QStringLiteral("Veldra | server  ver [") + QStringLiteral(VELDRA_VERSION) +
                                      QStringLiteral("] - created by Tarnwick"));
        QVERIFY(!w.updateButton()->isVisible());
        QCOMPARE(w.minimumSize(), QSize(1119, 682));
        w.resize(800, 500);
        QVERIFY(w.width() >= 1119 && w.height() >= 682);
    }

    void statusPageAtRestAndNavigation()
    {
        WindowFixture f;
        TForm1& w = f.open();
        StatusPage& s = *w.statusPage();
        QCOMPARE(w.currentPage(), QStringLiteral("STATUSPAGE"));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("START"));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Label10"))->text(), QStringLiteral("START SERVER : 00.00.0000 00:00:00"));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Label11"))->text(), QStringLiteral("COUNT CONNECTION : 0"));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("Label12"))->text(), QStringLiteral("COUNT REQUESTS : 0"));
        QCOMPARE(s.whiteBox()->text(), QStringLiteral("WHITE :: [0]"));
        QCOMPARE(s.blackBox()->text(), QStringLiteral("BLACK :: [0]"));
        QCOMPARE(s.memory()->text(), QStringLiteral("USING MEMORY (update value each 5 sec) : "));
        QCOMPARE(s.histogram()->count(), 24);
        QCOMPARE(s.histogram()->item(5)->text(), QStringLiteral("[05] -  >> 0 requests"));
        QCOMPARE(s.startLine()->font().pixelSize(), 27);
        QVERIFY(s.startLine()->font().bold());

        // The clock and the memory line follow the timer, running or not.
        w.control().scheduler().tick();
        QVERIFY(!s.clock()->text().isEmpty());
        for (int i = 0; i < 5; ++i) w.control().scheduler().tick();
        QVERIFY(s.memory()->text().contains(QStringLiteral(" Mb  |  ")));

        const std::pair<const char*, const char*> buttons[] = {{"CacheButton", "CACHESETTINGS"},
                                                               {"ClientAccessButton", "CLIENTACCESS"},
                                                               {"ServerSettingsButton", "SERVERSETTINGS"},
                                                               {"StatusPageButton", "STATUSPAGE"}};
        for (const auto& [button, page] : buttons) {
            QTest::mouseClick(w.findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
            QCOMPARE(w.currentPage(), QString::fromLatin1(page));
        }
        const QTabWidget* tabs = w.settingsTabs();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), QStringLiteral("  MAIN SETTINGS  "));
        QCOMPARE(tabs->tabText(1), QStringLiteral("  CONNECT WITH MYSQL  "));
        QCOMPARE(tabs->tabText(2), QStringLiteral("  REQUESTS  "));
        QCOMPARE(tabs->currentIndex(), 0);
        // Stopped: the window may close.
        QVERIFY(w.close());
    }

    // The values the pages show are what assistive technology reads, as they change.
    void assistiveTechnologyReadsWhatEveryPageShows()
    {
        WindowFixture f;
        for (const char* name : {"QUERIES", "CACHE-VELDRA", "CACHE-VELDRA/orders"}) f.makeFolder(QString::fromLatin1(name));
        writeTextFile(f.path(QStringLiteral("QUERIES/orders.qr")), {QStringLiteral("<#q_name>orders</#q_name>")});
        putBytes(f.path(QStringLiteral("CACHE-VELDRA/orders/k.cache")), QByteArray(10, 'x'));
        TForm1& w = f.open();
        StatusPage& s = *w.statusPage();
        QVERIFY2(misread(w).isEmpty(), qPrintable(misread(w).join(u'\n')));
        QCOMPARE(accessibleName(w.startStopButton()), QStringLiteral("START"));
        QCOMPARE(accessibleName(s.connections()), QStringLiteral("COUNT CONNECTION : 0"));
        QCOMPARE(accessibleName(w.connectionsTab()->clientStatus()), QStringLiteral("CLIENT DATA => Not have connect with database"));
        // what a value is stays with the control, beside the value
        QCOMPARE(s.connections()->accessibleDescription(), QStringLiteral("Connection count"));

        // New values: the clock and the memory line, the cache page's counts, a caption
        // that counts.
        for (int i = 0; i < 6; ++i) w.control().scheduler().tick();
        w.cachePage()->updateListButton()->click();
        w.cachePage()->functionList()->setCurrentRow(0);
        w.updateButton()->setText(QStringLiteral("Load 12 KB "));
        QCOMPARE(accessibleName(w.cachePage()->countAll()), QStringLiteral("Count cache files in all folders : 1"));
        QCOMPARE(accessibleName(w.cachePage()->countInFolder()), QStringLiteral("Count cache files in folder : 1"));
        QVERIFY(accessibleName(s.memory()).contains(QStringLiteral(" Mb  |  ")));
        QCOMPARE(accessibleName(w.updateButton()), QStringLiteral("Load 12 KB "));
        QVERIFY2(misread(w).isEmpty(), qPrintable(misread(w).join(u'\n')));
    }

    // Text put into a field by assistive technology, voice input or a program counts as
    // typed, on every settings tab: what is saved is what the fields show.
    void settingsFieldsTakeTextHoweverItComes()
    {
        WindowFixture f;
        for (const char* name : {"q", "l", "c"}) f.makeFolder(QString::fromLatin1(name));
        TForm1& w = f.open();
        MainSettingsTab& m = *w.mainSettingsTab();
        const std::pair<QLineEdit*, const char*> main[] = {
            {m.pathToQueries(), "path_to_queries"}, {m.pathToLogs(), "path_to_logs"}, {m.pathToCache(), "path_to_cache"},
            {m.countDays(), "caching_count_days_for_clean"}, {m.sizeMb(), "caching_size_for_clean"},
            {m.quantityFiles(), "caching_quantity_for_clean"}, {m.descriptionLink(), "link_to_descrpt_service"},
            {m.workingPort(), "worked_port"}, {m.saveLogEachLines(), "save_log_each_lines"},
            {m.resaveTimeLog(), "resave_time_log"}, {m.reloadClientAccess(), "reload_client_access"},
            {m.reloadCaches(), "reload_caches"}, {m.shareListName(), "name_function_for_share_list_functions"}};
        const QString values[] = {f.path(QStringLiteral("q")), f.path(QStringLiteral("l")), f.path(QStringLiteral("c")),
                                  QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9"), QStringLiteral("http://d.example/"),
                                  QStringLiteral("35123"), QStringLiteral("4321"), QStringLiteral("1:11"), QStringLiteral("02:22"),
                                  QStringLiteral("03:33"), QStringLiteral("Shared")};
        for (size_t i = 0; i < std::size(main); ++i) main[i].first->setText(values[i]);
        const std::pair<QCheckBox*, const char*> boxes[] = {
            {m.enableCaching(), "enabled_caching"}, {m.cleanOlderFiles(), "caching_clean_older_files"},
            {m.cleanIfSumIsMore(), "caching_clean_if_sum_files_is_more"},
            {m.cleanQuantityIsMore(), "caching_clean_quantity_is_more"}};
        QStringList flipped;
        for (const auto& [box, key] : boxes) {
            box->setChecked(!box->isChecked());  // as a toggle over the bus does it, without a click
            flipped << (box->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        }
        m.answerFormat()->setCurrentIndex(1);
        m.saveChangesButton()->click();
        QCOMPARE(f.ui.messages, QStringList{QStringLiteral("Settings was successful saved !")});

        ConnectionsTab& c = *w.connectionsTab();
        const ConnectionsTab::Fields* groups[] = {&c.clientFields(), &c.workFields()};
        int n = 0;
        for (const ConnectionsTab::Fields* g : groups)
            for (QLineEdit* e : {g->ip, g->port, g->database, g->user, g->psw}) e->setText(QStringLiteral("v%1").arg(++n));
        c.saveConnectionsButton()->click();

        const IniFile ini(f.path(QStringLiteral("veldra.ini")));
        const auto main_ = [&](const char* key) { return ini.value(QStringLiteral("main"), QString::fromLatin1(key), QString()); };
        for (size_t i = 0; i < std::size(main); ++i) QCOMPARE(main_(main[i].second), values[i]);
        for (size_t i = 0; i < std::size(boxes); ++i) QCOMPARE(main_(boxes[i].second), flipped[int(i)]);
        QCOMPARE(main_("format_answer"), QStringLiteral("1"));
        n = 0;
        for (const char* section : {"connect_client_table", "connect_work_data"})
            for (const char* key : {"ip", "port", "database", "user", "psw"})
                QCOMPARE(ini.value(QString::fromLatin1(section), QString::fromLatin1(key), QString()), QStringLiteral("v%1").arg(++n));
    }

    void logLinesReachTheViewAndTypingReachesTheLog()
    {
        WindowFixture f;
        TForm1& w = f.open();
        Logger(QStringLiteral("one line"));
        Logger(QStringLiteral("two\tline"));
        // shown with the next refresh of the page, a fraction of a second later
        QTRY_COMPARE(w.logView()->toPlainText(), QStringLiteral("one line\ntwo\tline"));
        w.logView()->moveCursor(QTextCursor::End);
        QTest::keyClicks(w.logView(), QStringLiteral("!"));
        QTest::keyClick(w.logView(), Qt::Key_Return);
        QTest::keyClicks(w.logView(), QStringLiteral("typed"));
        QCOMPARE(EventLog::instance().lines(),
                 QStringList({QStringLiteral("one line"), QStringLiteral("two\tline!"), QStringLiteral("typed")}));

        // The picture button saves the log and opens it.
        w.statusPage()->mainLogButton()->click();
        QCOMPARE(f.ui.opened, QStringList{f.path(QStringLiteral("MainLog.txt"))});
        w.statusPage()->openTimeLogButton()->click();
        QCOMPARE(f.ui.opened.value(1), f.path(QStringLiteral("TimeLog.txt")));
    }

    void aLongWaitShowsWhatItDoesAndRefusesTheClose()
    {
        WindowFixture f;
        TForm1& w = f.open();
        QString seenText, seenRead, seenDescription;
        bool seenCursor = false, seenBusy = false;
        const auto busy = [&w] { return QAccessible::queryAccessibleInterface(&w)->state().busy; };
        QVERIFY(!busy());
        bool closed = true;
        int ticks = 0;
        int memoryTicks = -1;
        const int memoryTicksBefore = w.control().scheduler().memoryTickCount();
        QTimer probe;
        // runs inside the wait: the window still handles its events
        connect(&probe, &QTimer::timeout, &w, [&] {
            if (++ticks != 1) return;
            seenText = w.waitText();
            // what assistive technology reads meanwhile
            seenBusy = busy();
            seenRead = accessibleName(w.findChild<QLabel*>(QStringLiteral("WaitLabel")));
            seenDescription = QAccessible::queryAccessibleInterface(&w)->text(QAccessible::Description);
            seenCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            closed = w.close();
            // a scheduler tick in the middle of the wait is dropped
            w.control().scheduler().tick();
            memoryTicks = w.control().scheduler().memoryTickCount();
        });
        probe.start(20);
        mainthread::runLongWait(QStringLiteral("Counting the cache files ..."),
                                [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
        probe.stop();
        QVERIFY(ticks > 0);
        QCOMPARE(seenText, QStringLiteral("Counting the cache files ..."));
        QVERIFY(seenCursor);
        QVERIFY(seenBusy);
        QCOMPARE(seenRead, QStringLiteral("Counting the cache files ..."));
        QCOMPARE(seenDescription, QStringLiteral("Counting the cache files ..."));
        QVERIFY(!busy());
        QCOMPARE(QAccessible::queryAccessibleInterface(&w)->text(QAccessible::Description), QString());
        QCOMPARE(accessibleName(w.findChild<QLabel*>(QStringLiteral("WaitLabel"))), QString());
        QVERIFY(!closed);
        QCOMPARE(memoryTicks, memoryTicksBefore);
        QVERIFY(w.isVisible());
        QCOMPARE(w.waitText(), QString());
        QVERIFY(!QApplication::overrideCursor());

        // A failure of the wait reaches the caller, and the window is itself again.
        bool caught = false;
        try {
            mainthread::runLongWait(QStringLiteral("Running the query ..."),
                                    [] { throw Error(QStringLiteral("EDatabaseError"), QStringLiteral("gone")); });
        } catch (const Error& e) {
            caught = e.message() == QStringLiteral("gone");
        }
        QVERIFY(caught);
        QCOMPARE(w.waitText(), QString());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!busy());
    }

    void startRefusedWhileADatabaseIsUnreachable()
    {
        WindowFixture f;
        SettingsPage page = defaultSettingsPage();
        page.clientTable = ConnectionFields{QStringLiteral("127.0.0.1"), QString::number(freePort()),
                                            QStringLiteral("c"), QStringLiteral("u"), QStringLiteral("p")};
        page.workData = page.clientTable;
        QCOMPARE(SaveConnections(page, settingsFilePath()), QString());
        TForm1& w = f.open();
        w.showPage(QStringLiteral("CACHESETTINGS"));
        QTest::mouseClick(w.startStopButton(), Qt::LeftButton);
        QCOMPARE(f.ui.messages.size(), 1);
        QVERIFY2(f.ui.messages[0].startsWith(QStringLiteral("Need Fix settings Mysql server(s)\r******************************\r"
                                                           "Not connect with client data \r Error |  msg = [")),
                 qPrintable(f.ui.messages[0]));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("START"));
        QCOMPARE(w.currentPage(), QStringLiteral("CACHESETTINGS"));
    }

    void startServeStopThroughTheWindow()
    {
        CONSOLE_REQUIRE_DATABASE(db);
        WindowFixture f;
        const QString workDb = QStringLiteral("veldra_t_window_work");
        const QString clientDb = QStringLiteral("veldra_t_window_clients");
        {
            DbConnection root(DbParams{db.host, QString::number(db.port), QString(), db.user, db.password});
            root.connect();
            for (const QString& name : {clientDb, workDb}) {
                root.execute(QStringLiteral("DROP DATABASE IF EXISTS ") + name);
                root.execute(QStringLiteral("CREATE DATABASE ") + name);
            }
            root.execute(QStringLiteral("CREATE TABLE ") + workDb + QStringLiteral(".t (id INT)"));
            root.execute(QStringLiteral("INSERT INTO ") + workDb + QStringLiteral(".t VALUES (1), (2)"));
        }
        for (const char* name : {"QUERIES", "LOGS", "CACHE-VELDRA"}) f.makeFolder(QString::fromLatin1(name));
        QueryEditorModel function;
        function.name = QStringLiteral("ids");
        function.active = true;
        function.query = QStringLiteral("SELECT id FROM t");
        SaveQueryFunction(f.path(QStringLiteral("QUERIES")), QStringLiteral("ids"), function);
        SettingsPage page = defaultSettingsPage();
        const quint16 port = freePort();
        page.workedPort = QString::number(port);
        page.clientTable = ConnectionFields{db.host, QString::number(db.port), clientDb, db.user, db.password};
        page.workData = page.clientTable;
        page.workData.database = workDb;
        QCOMPARE(SaveChanges(page, settingsFilePath()), QStringLiteral("Settings was successful saved !"));
        QCOMPARE(SaveConnections(page, settingsFilePath()), QString());

        TForm1& w = f.open();
        w.showPage(QStringLiteral("CACHESETTINGS"));
        // An unsaved edit is replaced by the file's value at START.
        w.mainSettingsTab()->workingPort()->setText(QStringLiteral("1"));
        QTest::mouseClick(w.startStopButton(), Qt::LeftButton);
        QVERIFY2(f.ui.messages.isEmpty(), qPrintable(f.ui.messages.join(u'\n')));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("STOP"));
        QCOMPARE(w.currentPage(), QStringLiteral("STATUSPAGE"));
        QCOMPARE(w.mainSettingsTab()->workingPort()->text(), QString::number(port));
        StatusPage& s = *w.statusPage();
        QVERIFY(s.startLine()->text().endsWith(QStringLiteral(" [") + QString::number(port) + u']'));
        QVERIFY(w.connectionsTab()->clientStatus()->text().endsWith(QStringLiteral("] is OK")));

        // The port test on the port the server listens on.
        w.mainSettingsTab()->testPortButton()->click();
        QVERIFY(f.ui.messages.value(0).startsWith(QStringLiteral("Port is blocked or already use.")));
        // Closing is refused while running.
        QVERIFY(!w.close());
        QCOMPARE(f.ui.messages.value(1), QStringLiteral("Need first do stop server !!!"));
        QVERIFY(w.isVisible());

        const int logBefore = w.logView()->blockCount();
        for (const QByteArray& r : {QByteArray("GET /ids?format=json HTTP/1.1\r\n\r\n"),
                                    QByteArray("GET /ids?format=json HTTP/1.1\r\n\r\n"),
                                    QByteArray("GET /missing HTTP/1.1\r\n\r\n")}) {
            const Received got = inWorker([port, r] { return exchange(port, r); });
            QVERIFY(got.bytes.startsWith("HTTP/1.1 200 OK"));
        }
        w.control().scheduler().tick();  // the counts are shown with the next tick
        QCOMPARE(s.connections()->text(), QStringLiteral("COUNT CONNECTION : 3"));
        QCOMPARE(s.requests()->text(), QStringLiteral("COUNT REQUESTS : 2"));
        // read as shown while running: STOP, the counts, the connected status lines
        QCOMPARE(accessibleName(w.startStopButton()), QStringLiteral("STOP"));
        QCOMPARE(accessibleName(s.requests()), QStringLiteral("COUNT REQUESTS : 2"));
        QVERIFY2(misread(w).isEmpty(), qPrintable(misread(w).join(u'\n')));
        QVERIFY(w.logView()->toPlainText().contains(QStringLiteral("{ClientExecute} Data for client was sent from cache !!! ")));
        QVERIFY(w.logView()->blockCount() > logBefore + 6);
        const int hour = QTime::currentTime().hour();
        QVERIFY(s.histogram()->item(hour)->text().endsWith(QStringLiteral(" >> 2 requests")) ||
                s.histogram()->item((hour + 23) % 24)->text().endsWith(QStringLiteral(" >> 2 requests")));

        QTest::mouseClick(w.startStopButton(), Qt::LeftButton);
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("START"));
        QCOMPARE(s.startLine()->text(), QStringLiteral("START SERVER : 00.00.0000 00:00:00"));
        QCOMPARE(s.connections()->text(), QStringLiteral("COUNT CONNECTION : 0"));
        QCOMPARE(w.connectionsTab()->workStatus()->text(), QStringLiteral("WORKING DATA => Not have connect with database"));
        QVERIFY(w.close());
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
