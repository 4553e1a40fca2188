// SPDX-License-Identifier: GPL-3.0-or-later
// The status page under a burst of hand-overs: the log view takes the lines in few
// insertions and holds a bounded tail of the log, the histogram follows every count,
// the operator's typing keeps the lines out of view, and the saved log files get every
// line in order.
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextCursor>
#include <thread>
#include <vector>

#include "common/eventlog.h"
#include "common/text.h"
#include "console/consoletest.h"
#include "console/statuspage.h"

using namespace veldra;
using namespace veldra::test;

namespace {

constexpr int kThreads = 4;

QString burstLine(int thread, int n) { return QStringLiteral("[t%1] \t{Burst} line %2").arg(thread).arg(n); }

// kThreads threads each hand over `each` log lines and as many counted requests, without
// waiting for the main thread.
void burst(TForm1& w, int each)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&w, t, each] {
            for (int i = 1; i <= each; ++i) {
                Logger(burstLine(t, i));
                mainthread::post([&w] { w.control().statistics.countRequest(); });
            }
        });
    for (auto& th : threads) th.join();
}

// Every thread's lines, each exactly once and in the order written.
void expectEveryLineInOrder(const QStringList& lines, int each)
{
    static const QRegularExpression re(QStringLiteral("^\\[t(\\d)\\] \t\\{Burst\\} line (\\d+)$"));
    std::vector<int> next(kThreads, 1);
    for (const QString& l : lines) {
        const auto m = re.match(l);
        QVERIFY2(m.hasMatch(), qPrintable(l));
        const int t = m.captured(1).toInt();
        QCOMPARE(m.captured(2).toInt(), next[size_t(t)]);
        ++next[size_t(t)];
    }
    for (int t = 0; t < kThreads; ++t) QCOMPARE(next[size_t(t)], each + 1);
}

QStringList viewLines(const TForm1& w) { return splitLines(w.logView()->toPlainText()); }

qint64 histogramSum(const TForm1& w)
{
    static const QRegularExpression re(QStringLiteral(" >> (\\d+) requests$"));
    qint64 sum = 0;
    QListWidget* h = w.statusPage()->histogram();
    for (int i = 0; i < h->count(); ++i) sum += re.match(h->item(i)->text()).captured(1).toLongLong();
    return sum;
}

}  // namespace

class StatusPageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { mainthread::install(); }

    void aBurstIsShownInFewInsertionsWithEveryLineAndCountKept()
    {
        WindowFixture f;
        TForm1& w = f.open();
        int insertions = 0;
        connect(w.logView(), &QPlainTextEdit::textChanged, this, [&] { ++insertions; });
        QElapsedTimer took;
        took.start();
        constexpr int kEach = 3000;
        burst(w, kEach);
        QTRY_COMPARE_WITH_TIMEOUT(w.control().statistics.requestCount(), kThreads * kEach, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(histogramSum(w), qint64(kThreads * kEach), 5000);
        const QStringList& log = EventLog::instance().lines();
        QCOMPARE(log.size(), kThreads * kEach);
        expectEveryLineInOrder(log, kEach);
        // The view: the newest lines of the log, no more than it holds.
        QTRY_COMPARE_WITH_TIMEOUT(viewLines(w), log.mid(log.size() - StatusPage::kMaxViewLines), 5000);
        const qint64 refreshes = took.elapsed() / StatusPage::kRefreshMs + 3;
        QVERIFY2(insertions <= refreshes, qPrintable(QStringLiteral("%1 insertions in %2 ms").arg(insertions).arg(took.elapsed())));
    }

    void typingIntoTheViewKeepsTheLinesOutOfView()
    {
        WindowFixture f;
        TForm1& w = f.open();
        // Lines of two text blocks each among those that leave the view: it drops whole lines.
        const int total = StatusPage::kMaxViewLines + 300;
        for (int i = 1; i <= total; ++i)
            Logger(i <= 300 && i % 7 == 0 ? QStringLiteral("line %1\nits second row").arg(i) : QStringLiteral("line %1").arg(i));
        w.statusPage()->refresh();
        QStringList expected = EventLog::instance().lines();
        QCOMPARE(w.logView()->toPlainText(), expected.mid(total - StatusPage::kMaxViewLines).join(u'\n'));

        w.logView()->moveCursor(QTextCursor::End);
        QTest::keyClicks(w.logView(), QStringLiteral("!"));
        // a line that came meanwhile, not shown yet
        Logger(QStringLiteral("after the typing"));
        QTest::keyClicks(w.logView(), QStringLiteral("?"));
        const QStringList& log = EventLog::instance().lines();
        QCOMPARE(log.size(), total + 1);
        QCOMPARE(log.first(), QStringLiteral("line 1"));
        QCOMPARE(log.at(total - 1), QStringLiteral("line %1!?").arg(total));
        QCOMPARE(log.last(), QStringLiteral("after the typing"));
        QTRY_VERIFY(w.logView()->toPlainText().endsWith(QStringLiteral("line %1!?\nafter the typing").arg(total)));
    }

    void everyLineOfABurstReachesTheSavedLogFilesInOrder()
    {
        WindowFixture f;
        TForm1& w = f.open();
        f.makeFolder(QStringLiteral("LOGS"));
        const QString logs = f.path(QStringLiteral("LOGS/"));
        // a new second for every save, so that no file takes the place of another
        QDateTime clock(QDate(2024, 3, 8), QTime(21, 12, 5));
        EventLog& log = EventLog::instance();
        log.startSizeCheck(997, logs, [&clock] { return clock = clock.addSecs(1); });
        constexpr int kEach = 2500;
        burst(w, kEach);
        QTRY_COMPARE_WITH_TIMEOUT(w.control().statistics.requestCount(), kThreads * kEach, 20000);
        log.stopSizeCheck();

        QStringList all;
        const QStringList files = QDir(logs).entryList(QDir::Files, QDir::Name);
        QCOMPARE(files.size(), kThreads * kEach / 998);
        for (const QString& name : files) all << readTextFileLines(logs + name);
        const QStringList rest = log.lines();
        all << rest;
        expectEveryLineInOrder(all, kEach);
        // The view starts afresh with each save: it shows what is left.
        QTRY_COMPARE_WITH_TIMEOUT(viewLines(w), rest, 5000);
    }
};

QTEST_MAIN(StatusPageTest)
#include "test_statuspage.moc"
