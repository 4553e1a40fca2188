// SPDX-License-Identifier: GPL-3.0-or-later
// The window's failure box offscreen: one box for a flood of failures, counting them,
// while the hand-overs to the main thread go on.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <future>
#include <thread>

#include "common/eventlog.h"
#include "console/consoletest.h"
#include "server/requestparser.h"

using namespace veldra;
using namespace veldra::test;

namespace {

QString decodeFailure(int i)
{
    try {
        PercentDecode("x=" + QByteArray(i, 'a') + "%G" + QByteArray::number(i % 10));
    } catch (const DecodeError& e) {
        return e.message();
    }
    return QString();
}

int openFailureBoxes()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("FailureBox") && w->isVisible()) ++n;
    return n;
}

}  // namespace

class FailureBoxTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { mainthread::install(); }

    void oneBoxCountsAFloodAndHandOversGoOn()
    {
        WindowFixture f;
        f.window = std::make_unique<TForm1>();
        TForm1& w = *f.window;  // with its own dialogs
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        // Failures of request threads reach the operator the way a failed log save does.
        std::thread([] {
            for (int i = 0; i < 1000; ++i) EventLog::instance().handOverFailed(decodeFailure(i));
        }).join();
        QTRY_VERIFY(w.operatorUi().failureBox() &&
                    w.operatorUi().failureBox()->text().endsWith(QLatin1String("(1000 failures of this kind)")));
        QMessageBox* box = w.operatorUi().failureBox();
        QCOMPARE(openFailureBoxes(), 1);
        QVERIFY(box->text().startsWith(QLatin1String("Invalid URL encoded character (%G0) at position 3\n")));
        QCOMPARE(box->icon(), QMessageBox::Critical);

        // While it is open: log lines and a hand-over that waits for the main thread (as
        // STOP's do) are served, and more failures are counted into the same box.
        auto worker = std::async(std::launch::async, [] {
            Logger(QStringLiteral("logged while the box is open"));
            int ran = 0;
            mainthread::runSync([&] { ++ran; });
            EventLog::instance().handOverFailed(decodeFailure(5));
            return ran;
        });
        QTRY_VERIFY(worker.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
        QCOMPARE(worker.get(), 1);
        QTRY_VERIFY(EventLog::instance().lines().contains(QStringLiteral("logged while the box is open")));
        QTRY_VERIFY(box->text().endsWith(QLatin1String("(1001 failures of this kind)")));
        QCOMPARE(w.operatorUi().failureBox(), box);
        QCOMPARE(openFailureBoxes(), 1);

        // Closed by the operator, the next failure opens a box of its own.
        box->button(QMessageBox::Ok)->click();
        QTRY_COMPARE(openFailureBoxes(), 0);
        std::thread([] { EventLog::instance().handOverFailed(QStringLiteral("Socket is closed")); }).join();
        QTRY_COMPARE(openFailureBoxes(), 1);
        QCOMPARE(w.operatorUi().failureBox()->text(), QStringLiteral("Socket is closed"));
        w.operatorUi().failureBox()->button(QMessageBox::Ok)->click();
        QTRY_COMPARE(openFailureBoxes(), 0);
    }
};

QTEST_MAIN(FailureBoxTest)
#include "test_failurebox.moc"
