// The main window offscreen: title, pages, status page texts and the close check.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTemporaryDir>
#include <QtTest>

#include "common/eventlog.h"
#include "common/files.h"
#include "common/mainthread.h"
#include "console/mainwindow.h"
#include "version.h"

using namespace veldra;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        mainthread::install();
        QVERIFY(dir.isValid());
        setProgramFolderForTesting(dir.path());
    }

    void titleGetsTheVersionOnce()
    {
        TForm1 w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Veldra | server "));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.repaint();
        w.update();
        QTest::qWait(50);
        QCOMPARE(w.windowTitle(), QStringLiteral("Veldra | server  ver [") + QStringLiteral(VELDRA_VERSION) + QStringLiteral("] - created by Tarnwick"));
        QVERIFY(w.minimumSize() == QSize(1135, 720));
    }

    void statusPageAtRestAndNavigation()
    {
        TForm1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.currentPage(), QStringLiteral("STATUSPAGE"));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("START"));
        QCOMPARE(w.control().startLine(), QStringLiteral("START SERVER : 00.00.0000 00:00:00"));
        QCOMPARE(w.control().statistics.histogram().size(), 24);
        QCOMPARE(w.control().statistics.histogram().value(5), QStringLiteral("[05] -  >> 0 requests"));
        for (const char* page : {"CACHESETTINGS", "CLIENTACCESS", "SERVERSETTINGS", "STATUSPAGE"}) {
            w.showPage(QString::fromLatin1(page));
            QCOMPARE(w.currentPage(), QString::fromLatin1(page));
        }
        QVERIFY(!w.control().running());
        // Stopped: the window may close.
        QVERIFY(w.close());
    }

    void logLinesReachTheViewAndTypingReachesTheLog()
    {
        EventLog::instance().clear();
        TForm1 w;
        Logger(QStringLiteral("one line"));
        Logger(QStringLiteral("two\tline"));
        QCOMPARE(w.logView()->toPlainText(), QStringLiteral("one line\ntwo\tline"));
        QCOMPARE(EventLog::instance().lines().size(), 2);

        // The operator's typing becomes the log.
        w.logView()->moveCursor(QTextCursor::End);
        QTest::keyClicks(w.logView(), QStringLiteral("!"));
        QTest::keyClick(w.logView(), Qt::Key_Return);
        QTest::keyClicks(w.logView(), QStringLiteral("typed"));
        QCOMPARE(EventLog::instance().lines(),
                 QStringList({QStringLiteral("one line"), QStringLiteral("two\tline!"), QStringLiteral("typed")}));
        EventLog::instance().removeAllListeners();
    }

private:
    QTemporaryDir dir;
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
