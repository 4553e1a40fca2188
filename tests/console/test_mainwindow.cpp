// SPDX-License-Identifier: GPL-3.0-or-later
// The main window offscreen: frame, title, navigation, status page, names of the
// controls, the long-wait state, and START/STOP through the window on a real database.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextCursor>
#include <thread>

#include "config/settings.h"
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

    void everyControlHasAnAccessibleName()
    {
        WindowFixture f;
        TForm1& w = f.open();
        QStringList unnamed;
        for (QWidget* c : w.findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                                 qobject_cast<QComboBox*>(c) || qobject_cast<QListWidget*>(c) ||
                                 qobject_cast<QPlainTextEdit*>(c);
            // the tab widget's own scroll buttons excepted
            if (control && c->accessibleName().isEmpty() && !c->objectName().startsWith(QStringLiteral("qt_")) &&
                !qobject_cast<QTabBar*>(c->parentWidget()))
                unnamed << QString::fromLatin1(c->metaObject()->className()) + u' ' + c->objectName();
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u',')));
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
        QString seenText;
        bool seenCursor = false;
        bool closed = true;
        int ticks = 0;
        int memoryTicks = -1;
        const int memoryTicksBefore = w.control().scheduler().memoryTickCount();
        QTimer probe;
        // runs inside the wait: the window still handles its events
        connect(&probe, &QTimer::timeout, &w, [&] {
            if (++ticks != 1) return;
            seenText = w.waitText();
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
