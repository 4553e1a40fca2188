// The window's operator: a long wait runs on a thread of its own while the main thread
// keeps serving events and hand-overs under a busy cursor.
#include <QApplication>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <thread>

#include "common/errors.h"
#include "common/mainthread.h"
#include "console/widgetoperator.h"

using namespace veldra;

class WidgetOperatorTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { mainthread::install(); }

    void busyWhileKeepsTheMainThreadServing()
    {
        WidgetOperator ui;
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(5);
        bool offThread = false, busyCursor = false, handedOver = false;
        ui.busyWhile([&] {
            offThread = QThread::currentThread() != qApp->thread();
            mainthread::runSync([&] {
                busyCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
                handedOver = QThread::currentThread() == qApp->thread();
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
        });
        QVERIFY(offThread);
        QVERIFY(busyCursor);
        QVERIFY(handedOver);
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        QVERIFY(!QApplication::overrideCursor());
    }

    void busyWhilePassesTheFailureOn()
    {
        WidgetOperator ui;
        bool caught = false;
        try {
            ui.busyWhile([] { throw Error(QStringLiteral("EDatabaseError"), QStringLiteral("gone")); });
        } catch (const Error& e) {
            caught = e.message() == QStringLiteral("gone");
        }
        QVERIFY(caught);
        QVERIFY(!QApplication::overrideCursor());
    }
};

QTEST_MAIN(WidgetOperatorTest)
#include "test_widgetoperator.moc"
