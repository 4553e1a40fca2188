// SPDX-License-Identifier: GPL-3.0-or-later
// The access decision of a registered client against a white list of n lines, as the
// request path makes it (the lookup built when the lists are loaded) beside the scan
// of every line on every request that it replaced. No database, no sockets: only the
// decision, in one thread, timed by the thread's CPU clock.
//
//   bench_access [white lines] [decisions]      (defaults 1000 and 20000)
//
// The lists are those of bench/compare: client<i>@example.org with an upper-case MD5
// of i as secure code, ending in a year, the bench client last; the black list holds
// one line of each type that the bench client does not give.
#include <QCryptographicHash>
#include <QDate>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "access/accesslists.h"
#include "common/regional.h"
#include "support/accessscan.h"

using namespace veldra;

namespace {

// This thread's CPU time in nanoseconds: on a machine busy with other work the wall
// clock would count their share too.
qint64 cpuNanos()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

template <class F>
double microsPerCall(int calls, F fn)
{
    const qint64 start = cpuNanos();
    for (int i = 0; i < calls; ++i) fn();
    return double(cpuNanos() - start) / 1000.0 / calls;
}

}  // namespace

int main(int argc, char** argv)
{
    const int clients = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int calls = argc > 2 ? std::atoi(argv[2]) : 20000;
    if (clients < 1 || calls < 1) {
        std::fprintf(stderr, "usage: bench_access [white lines >= 1] [decisions >= 1]\n");
        return 2;
    }

    const QString todate = regional::shortDate(QDate::currentDate().addYears(1));
    AccessLists lists;
    for (int i = 1; i < clients; ++i) {
        const QString code = QString::fromLatin1(
            QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Md5).toHex().toUpper());
        lists.white << whiteListLine(QString::number(i), QStringLiteral("client%1@example.org").arg(i), code, todate,
                                     QStringLiteral("bench"));
    }
    lists.white << whiteListLine(QString::number(clients), QStringLiteral("bench@example.com"),
                                 QStringLiteral("5F4DCC3B5AA765D61D8327DEB882CF99"), todate,
                                 QStringLiteral("bench client"));
    lists.black << blackListLine(QStringLiteral("IP"), QStringLiteral("10.0.0.1"))
                << blackListLine(QStringLiteral("SECCODE"), QStringLiteral("bad"))
                << blackListLine(QStringLiteral("EMAIL"), QStringLiteral("evil@example.org"));

    // What the request pipeline hands over: both values already lowered.
    const QString email = QStringLiteral("bench@example.com");
    const QString code = QStringLiteral("5f4dcc3b5aa765d61d8327deb882cf99");
    const QString address = QStringLiteral("127.0.0.1");

    const qint64 buildStart = cpuNanos();
    const AccessLookup lookup(lists);
    const double buildMs = double(cpuNanos() - buildStart) / 1e6;

    const QDateTime now = QDateTime::currentDateTime();
    // With one line the bench client is also the first.
    const QString firstEmail = clients > 1 ? QStringLiteral("client1@example.org") : email;
    const QString firstCode = clients > 1 ? QString::fromLatin1(QCryptographicHash::hash(QByteArray::number(1),
                                                                                         QCryptographicHash::Md5)
                                                                    .toHex())
                                          : code;
    for (const auto& [e, c] : {std::pair{email, code}, std::pair{firstEmail, firstCode}}) {
        if (lookup.decide(e, c, address, now).kind != AccessDecision::Kind::Registered ||
            test::scanClientAccess(lists, e, c, address, now).kind != AccessDecision::Kind::Registered) {
            std::fprintf(stderr, "%s is not registered\n", qPrintable(e));
            return 1;
        }
    }

    // The scan stops at the first matching line: a client's cost depends on where the
    // load put its line (bench/compare's list, read by end date, delivers the bench
    // client first), the lookup's does not.
    volatile int registered = 0;
    auto scanOf = [&](const QString& e, const QString& c) {
        const int scanCalls = std::max(1, calls / 10);  // the scan of a long list is slow; fewer calls
        return microsPerCall(scanCalls, [&] {
            registered = registered + int(test::scanClientAccess(lists, e, c, address, QDateTime::currentDateTime()).kind);
        });
    };
    auto lookupOf = [&](const QString& e, const QString& c) {
        return microsPerCall(calls, [&] {
            registered = registered + int(lookup.decide(e, c, address, QDateTime::currentDateTime()).kind);
        });
    };
    const double scanLast = scanOf(email, code);
    const double scanFirst = scanOf(firstEmail, firstCode);
    const double lookLast = lookupOf(email, code);
    const double lookFirst = lookupOf(firstEmail, firstCode);
    const QString nobody = QStringLiteral("nobody@example.org");
    const double scanMiss = scanOf(nobody, code);
    const double miss = lookupOf(nobody, code);

    std::printf("white list of %d lines, black list of %lld\n", clients, qlonglong(lists.black.size()));
    std::printf("| decision | CPU µs per request |\n|---|---|\n");
    std::printf("| scan of every line (before), registered client on the last line | %.2f |\n", scanLast);
    std::printf("| scan of every line (before), registered client on the first line | %.2f |\n", scanFirst);
    std::printf("| scan of every line (before), unknown client | %.2f |\n", scanMiss);
    std::printf("| lookup built at the load, registered client on the last line | %.2f |\n", lookLast);
    std::printf("| lookup built at the load, registered client on the first line | %.2f |\n", lookFirst);
    std::printf("| lookup built at the load, unknown client | %.2f |\n", miss);
    std::printf("building the lookup once per load: %.2f ms of CPU\n", buildMs);
    return 0;
}
