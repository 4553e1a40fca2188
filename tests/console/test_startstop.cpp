// SPDX-License-Identifier: GPL-3.0-or-later
// START and STOP from the window on a real database: nothing the operator does while
// they run gets in between.
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <unistd.h>

#include "common/eventlog.h"
#include "common/files.h"
#include "common/mainthread.h"
#include "console/mainwindow.h"
#include "server/pipeline_fixture.h"
#include "support/serverfolder.h"

using namespace veldra;

class StartStopTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        mainthread::install();
        QVERIFY(dir.isValid());
        setProgramFolder(dir.path());
        const auto db = test::testDatabase();
        if (!db) {
            if (qEnvironmentVariable("CI") == QLatin1String("true")) QFAIL("CI=true and no test database (VELDRA_TEST_DB_* not set)");
            QSKIP("no test database: run scripts/test");
        }
        port = test::prepareServerFolder(dir.path(), *db, db->password, QStringLiteral("veldra_t_startstop_clients"),
                                         QStringLiteral("veldra_t_startstop_work"));
    }

    // STOP waits about a second for the request threads while serving hand-overs. A click
    // on START/STOP, a START asked for directly and a close of the window in that second
    // are all refused: STOP ends stopped, with the socket and the databases closed.
    void stopTakesNoClickAndNoCloseUntilItHasEnded()
    {
        EventLog::instance().clear();
        TForm1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(w.startStopButton(), Qt::LeftButton);
        QVERIFY2(w.control().running(), qPrintable(w.control().databases.errorAreaText()));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("STOP"));
        const int listening = test::connectTo(port);
        QVERIFY(listening >= 0);
        ::close(listening);

        bool fired = false, busy = false, closed = true;
        QTimer::singleShot(300, &w, [&] {
            fired = true;
            busy = w.control().busy();
            QTest::mouseClick(w.startStopButton(), Qt::LeftButton);
            w.control().startStop();
            closed = w.close();
        });
        QTest::mouseClick(w.startStopButton(), Qt::LeftButton);
        QTest::qWait(100);  // whatever was held back has its turn now

        QVERIFY2(fired, "the timer runs inside STOP's wait");
        QVERIFY(busy);
        QVERIFY(!closed);
        QVERIFY(w.isVisible());
        QVERIFY(!w.control().busy());
        QVERIFY(!w.control().running());
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("START"));
        QCOMPARE(w.control().startLine(), QStringLiteral("START SERVER : 00.00.0000 00:00:00"));
        QCOMPARE(w.control().listeningPort(), quint16(0));
        const int after = test::connectTo(port);
        if (after >= 0) ::close(after);
        QCOMPARE(after, -1);
        QVERIFY(!w.control().databases.DataClients.connected());
        QVERIFY(!w.control().databases.WorkData.connected());

        // Stopped and idle: the button and the close work again.
        QTest::mouseClick(w.startStopButton(), Qt::LeftButton);
        QVERIFY(w.control().running());
        QTest::mouseClick(w.startStopButton(), Qt::LeftButton);
        QVERIFY(!w.control().running());
        QVERIFY(w.close());
        EventLog::instance().removeAllListeners();
    }

    void cleanupTestCase() { setProgramFolder(QString()); }

private:
    QTemporaryDir dir;
    quint16 port = 0;
};

QTEST_MAIN(StartStopTest)
#include "test_startstop.moc"
