// SPDX-License-Identifier: GPL-3.0-or-later
// The memory the event log holds per request: the four lines of one request
// (connected, processing with the request text, sent, closing), handed over from a
// request thread as the pipeline does, with the log's byte budget and without it.
//
//   bench_eventlog [requests] [request bytes]
//
// Prints, for each run, the bytes the log's lines hold and the growth of the resident
// memory, in total and per request, and how many log files were saved.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <limits>
#include <malloc.h>
#include <thread>

#include "common/eventlog.h"
#include "common/mainthread.h"

using namespace veldra;

namespace {

qint64 residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.value(1).toLongLong() * 4096;
}

void run(const char* title, qsizetype budget, int requests, int requestBytes)
{
    QTemporaryDir dir;
    EventLog& log = EventLog::instance();
    log.clear();
    malloc_trim(0);
    const qint64 before = residentBytes();
    log.setByteBudget(budget);
    log.startSizeCheck(50000, dir.path() + u'/');
    const QString text = QStringLiteral("GET /sales?x=") + QString(requestBytes, u'7') + u' ';
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < requests; ++i) {
            const qintptr handle = 1000 + i;
            Logger(standardLogLine(QStringLiteral("{httpserverGetThread} Client connected "), QStringLiteral("127.0.0.1"),
                                   handle));
            Logger(standardLogLine(QStringLiteral("{ClientExecute} Processing request from Client "),
                                   QStringLiteral("127.0.0.1"), handle) +
                   QStringLiteral("\tInput request [") + text + u']');
            Logger(standardLogLine(QStringLiteral("{ClientExecute} Was succesful sent answer for client !!! "),
                                   QStringLiteral("127.0.0.1"), handle));
            Logger(standardLogLine(QStringLiteral("{SocketClosing} Client clossing "), QStringLiteral("127.0.0.1"),
                                   handle) +
                   u' ');
            // as requests come: the main thread keeps up
            if (i % 64 == 63) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done = true;
    });
    while (!done.load()) {
        mainthread::servePending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    mainthread::servePending();
    malloc_trim(0);  // what is held, not what the allocator keeps for later
    const qint64 after = residentBytes();
    const int files = int(QDir(dir.path()).entryList(QDir::Files).size());
    std::printf("%-22s %6d requests of %6d bytes: log holds %10lld bytes (%7lld per request held), "
                "resident +%10lld bytes (%7lld per request), %d log files saved\n",
                title, requests, requestBytes, (long long)log.bytesHeld(),
                (long long)(log.bytesHeld() / qMax<qsizetype>(1, log.lines().size() / 4)), (long long)(after - before),
                (long long)((after - before) / requests), files);
    log.stopSizeCheck();
    log.clear();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    mainthread::install();
    const int requests = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
    const int bytes = argc > 2 ? QByteArray(argv[2]).toInt() : 63 * 1024;
    run("without a byte budget", std::numeric_limits<qsizetype>::max(), requests, bytes);
    run("32 MiB byte budget", kLogByteBudget, requests, bytes);
    return 0;
}
