// SPDX-License-Identifier: GPL-3.0-or-later
// The window under the load of its own server, from the outside: how long its main
// thread takes to answer the display and the accessibility bus, its resident memory,
// what it counted, and the requests per second beside veldra-headless.
//
//   bench_window load HOST PORT TARGET SECONDS CLIENTS
//       CLIENTS threads send GET TARGET for SECONDS, one request per connection, each
//       answer compared byte for byte with the first; prints requests per second.
//   bench_window window HOST PORT TARGET SECONDS CLIENTS PID
//       The same load against the window of process PID (running under an X display,
//       with the accessibility bus on): presses START over the bus, probes the window
//       every 20 ms while the load runs and for 5 s after it (a _NET_WM_PING on the
//       display, which the window's main thread answers, and one call on the bus),
//       samples VmRSS, reads "COUNT REQUESTS : n", presses "Open time log", STOP and
//       the main-log button. Prints every figure.
//   bench_window logs LOGDIR MAINLOG TIMELOG
//       Reads the saved event logs (mainlog-*.log in LOGDIR, by name) and then MAINLOG,
//       and prints how many lines of each kind they hold and whether their time stamps
//       keep their order; and the sum of the hourly counts in TIMELOG.
//
// bench/run-bench-window runs the whole comparison.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "httpclient.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// ---- load ----------------------------------------------------------------------------

using bench::exchange;
using bench::resolve;

bool listening(const sockaddr_storage& addr, socklen_t len)
{
    const int fd = ::socket(addr.ss_family, SOCK_STREAM, 0);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

struct LoadResult {
    long answered = 0;
    long failed = 0;
    double seconds = 0;
};

LoadResult runLoad(const sockaddr_storage& addr, socklen_t len, const std::string& target, int seconds, int clients)
{
    const std::string request = "GET " + target + " HTTP/1.1\r\n\r\n";
    const std::string first = exchange(addr, len, request);  // stores the answer in the cache
    LoadResult r;
    if (first.empty()) {
        std::fprintf(stderr, "no answer from the server\n");
        r.failed = 1;
        return r;
    }
    std::atomic<long> answered{0}, failed{0};
    std::atomic<bool> stop{false};
    const auto t0 = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                if (exchange(addr, len, request) == first)
                    answered.fetch_add(1, std::memory_order_relaxed);
                else
                    failed.fetch_add(1, std::memory_order_relaxed);
            }
        });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& t : threads) t.join();
    r.seconds = msSince(t0) / 1000;
    r.answered = answered + 1;  // the first one included
    r.failed = failed;
    return r;
}

void printLoad(const LoadResult& r, int clients)
{
    std::printf("load: %d clients for %.1f s: %ld answered, %ld failed, %.0f requests per second\n", clients,
                r.seconds, r.answered, r.failed, double(r.answered) / r.seconds);
}

// ---- figures -------------------------------------------------------------------------

struct Latencies {
    std::vector<double> ms;
    long lost = 0;
    void add(double v) { ms.push_back(v); }
    std::string text()
    {
        if (ms.empty()) return "no answers (" + std::to_string(lost) + " lost)";
        std::sort(ms.begin(), ms.end());
        auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
        char buf[200];
        std::snprintf(buf, sizeof buf, "%zu probes: median %.1f ms, p99 %.1f ms, max %.1f ms%s", ms.size(), at(0.5),
                      at(0.99), ms.back(), lost ? (", " + std::to_string(lost) + " unanswered").c_str() : "");
        return buf;
    }
};

double rssMb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

// ---- the display: _NET_WM_PING -------------------------------------------------------

class Display {
public:
    bool open(qint64 pid)
    {
        m_c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_c)) return false;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        m_protocols = atom("WM_PROTOCOLS");
        m_ping = atom("_NET_WM_PING");
        const xcb_atom_t pidAtom = atom("_NET_WM_PID");
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        for (int attempt = 0; attempt < 200 && !m_window; ++attempt) {
            auto* tree = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_root), nullptr);
            if (tree) {
                const xcb_window_t* kids = xcb_query_tree_children(tree);
                for (int i = 0; i < xcb_query_tree_children_length(tree) && !m_window; ++i) {
                    auto* p = xcb_get_property_reply(
                        m_c, xcb_get_property(m_c, 0, kids[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
                    auto* name = xcb_get_property_reply(
                        m_c, xcb_get_property(m_c, 0, kids[i], XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                        nullptr);
                    if (p && name && xcb_get_property_value_length(p) == 4 &&
                        *static_cast<uint32_t*>(xcb_get_property_value(p)) == uint32_t(pid) &&
                        std::string(static_cast<const char*>(xcb_get_property_value(name)),
                                    size_t(xcb_get_property_value_length(name)))
                                .rfind("Veldra", 0) == 0)
                        m_window = kids[i];
                    std::free(p);
                    std::free(name);
                }
                std::free(tree);
            }
            if (!m_window) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return m_window != 0;
    }

    // Milliseconds until the window answered; negative when it did not within `timeoutMs`.
    double ping(int timeoutMs)
    {
        const uint32_t stamp = ++m_stamp;
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = m_window;
        ev.type = m_protocols;
        ev.data.data32[0] = m_ping;
        ev.data.data32[1] = stamp;
        ev.data.data32[2] = m_window;
        const auto t0 = Clock::now();
        xcb_send_event(m_c, 0, m_window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
        xcb_flush(m_c);
        for (;;) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(m_c)) {
                bool ours = false;
                if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                    auto* cm = reinterpret_cast<xcb_client_message_event_t*>(e);
                    ours = cm->data.data32[0] == m_ping && cm->data.data32[1] == stamp;
                }
                std::free(e);
                if (ours) return msSince(t0);
            }
            const double left = timeoutMs - msSince(t0);
            if (left <= 0) return -1;
            pollfd pfd{xcb_get_file_descriptor(m_c), POLLIN, 0};
            ::poll(&pfd, 1, int(left) + 1);
        }
    }

private:
    xcb_atom_t atom(const char* name)
    {
        auto* r = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    }

    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
    xcb_window_t m_window = 0;
    xcb_atom_t m_protocols = 0;
    xcb_atom_t m_ping = 0;
    uint32_t m_stamp = 0;
};

// ---- the accessibility bus -----------------------------------------------------------

struct Ref {
    QString service;
    QString path;
};

class A11y {
public:
    bool connect()
    {
        QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                        QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
        const QDBusMessage r = QDBusConnection::sessionBus().call(m);
        if (r.type() != QDBusMessage::ReplyMessage) {
            std::fprintf(stderr, "no accessibility bus: %s\n", qPrintable(r.errorMessage()));
            return false;
        }
        m_bus = QDBusConnection::connectToBus(r.arguments().value(0).toString(), QStringLiteral("a11y"));
        return m_bus.isConnected();
    }

    bool findApplication(qint64 pid)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            for (const Ref& app : children({QStringLiteral("org.a11y.atspi.Registry"),
                                            QStringLiteral("/org/a11y/atspi/accessible/root")})) {
                QDBusMessage m = QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
                m << app.service;
                const QDBusMessage r = m_bus.call(m);
                if (r.type() == QDBusMessage::ReplyMessage && r.arguments().value(0).toLongLong() == pid) {
                    m_app = app;
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }

    // Walks the window's tree once: every object's role and name.
    void walk()
    {
        std::vector<Ref> todo{m_app};
        while (!todo.empty() && m_objects.size() < 5000) {
            const Ref r = todo.back();
            todo.pop_back();
            const QString role = call(r, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetRoleName"))
                                     .arguments()
                                     .value(0)
                                     .toString();
            m_objects.push_back({r, role, name(r)});
            // list items and table cells: nothing to look for among them
            if (role == QLatin1String("list") || role == QLatin1String("table")) continue;
            for (const Ref& c : children(r)) todo.push_back(c);
        }
    }

    // The first object of that role whose name (or text) `match` accepts.
    bool find(const QString& role, const std::function<bool(const QString&)>& match, Ref& out)
    {
        for (const auto& o : m_objects)
            if (o.role == role && (match(o.name) || match(text(o.ref)))) {
                out = o.ref;
                return true;
            }
        return false;
    }

    QString name(const Ref& r)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(r.service, r.path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                        QStringLiteral("Get"));
        m << QStringLiteral("org.a11y.atspi.Accessible") << QStringLiteral("Name");
        const QDBusMessage reply = m_bus.call(m, QDBus::Block, 60000);
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
    }

    QString text(const Ref& r)
    {
        QDBusMessage m =
            QDBusMessage::createMethodCall(r.service, r.path, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"));
        m << 0 << -1;
        const QDBusMessage reply = m_bus.call(m, QDBus::Block, 60000);
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString() : QString();
    }

    bool press(const Ref& r)
    {
        const int n = call(r, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("GetNActions")).arguments().value(0).toInt();
        for (int i = 0; i < std::max(n, 1); ++i) {
            QDBusMessage m = QDBusMessage::createMethodCall(r.service, r.path, QStringLiteral("org.a11y.atspi.Action"),
                                                            QStringLiteral("GetName"));
            m << i;
            const QString action = m_bus.call(m).arguments().value(0).toString();
            if (n > 0 && action != QLatin1String("Press")) continue;
            QDBusMessage d = QDBusMessage::createMethodCall(r.service, r.path, QStringLiteral("org.a11y.atspi.Action"),
                                                            QStringLiteral("DoAction"));
            d << i;
            return m_bus.call(d, QDBus::Block, 60000).type() == QDBusMessage::ReplyMessage;
        }
        return false;
    }

    // Asks for the events a screen reader follows, so that the window sends them (they
    // are asked for, not read).
    void listenLikeAScreenReader()
    {
        for (const char* event : {"object:text-changed", "object:property-change", "object:children-changed",
                                  "object:state-changed", "object:text-caret-moved"}) {
            QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.atspi.Registry"),
                                                            QStringLiteral("/org/a11y/atspi/registry"),
                                                            QStringLiteral("org.a11y.atspi.Registry"),
                                                            QStringLiteral("RegisterEvent"));
            m << QString::fromLatin1(event);
            if (m_bus.call(m).type() != QDBusMessage::ReplyMessage) {
                QDBusMessage m2 = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.atspi.Registry"),
                                                                 QStringLiteral("/org/a11y/atspi/registry"),
                                                                 QStringLiteral("org.a11y.atspi.Registry"),
                                                                 QStringLiteral("RegisterEvent"));
                m2 << QString::fromLatin1(event) << QStringList() << QString();
                m_bus.call(m2);
            }
        }
    }

    void dump()
    {
        for (const auto& o : m_objects) std::fprintf(stderr, "  %s: %s\n", qPrintable(o.role), qPrintable(o.name));
    }

private:
    struct Object {
        Ref ref;
        QString role;
        QString name;
    };

    QDBusMessage call(const Ref& r, const QString& iface, const QString& method)
    {
        return m_bus.call(QDBusMessage::createMethodCall(r.service, r.path, iface, method), QDBus::Block, 60000);
    }

    std::vector<Ref> children(const Ref& r)
    {
        std::vector<Ref> out;
        const QDBusMessage reply = call(r, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren"));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return out;
        const QDBusArgument arg = reply.arguments().at(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            Ref c;
            QDBusObjectPath p;
            arg.beginStructure();
            arg >> c.service >> p;
            arg.endStructure();
            c.path = p.path();
            out.push_back(c);
        }
        arg.endArray();
        return out;
    }

    QDBusConnection m_bus{QStringLiteral("none")};
    Ref m_app;
    std::vector<Object> m_objects;
};

// ---- the logs ------------------------------------------------------------------------

QStringList fileLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QByteArray all = f.readAll();
    if (all.startsWith("\xEF\xBB\xBF")) all.remove(0, 3);
    QStringList lines = QString::fromUtf8(all).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

int logs(const QString& dir, const QString& mainLog, const QString& timeLog)
{
    static const QRegularExpression hour(QStringLiteral(" >> (\\d+) requests$"));
    long hourly = 0;
    for (const QString& l : fileLines(timeLog)) hourly += hour.match(l).captured(1).toLong();
    std::printf("hourly counts in %s: %ld requests\n", qPrintable(QFileInfo(timeLog).fileName()), hourly);
    QStringList files;
    for (const QString& n : QDir(dir).entryList({QStringLiteral("mainlog-*.log")}, QDir::Files, QDir::Name))
        files << dir + u'/' + n;
    files << mainLog;
    static const QRegularExpression stamp(QStringLiteral("^\\[(\\d\\d)\\.(\\d\\d)\\.(\\d{4}) (\\d\\d):(\\d\\d):(\\d\\d)\\] \t\\{"));
    long total = 0, connected = 0, processing = 0, fromCache = 0, closing = 0, other = 0, unstamped = 0, backwards = 0;
    QDateTime last;
    for (const QString& file : files) {
        const QStringList lines = fileLines(file);
        total += lines.size();
        for (const QString& l : lines) {
            const auto m = stamp.match(l);
            if (!m.hasMatch()) {
                ++unstamped;
                continue;
            }
            const QDateTime at(QDate(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt()),
                               QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt()));
            // stamps are taken by the writing threads, so neighbours may differ by a second
            if (last.isValid() && at < last.addSecs(-1)) ++backwards;
            if (!last.isValid() || at > last) last = at;
            if (l.contains(QLatin1String("{httpserverGetThread} Client connected ")))
                ++connected;
            else if (l.contains(QLatin1String("{ClientExecute} Processing request from Client ")))
                ++processing;
            else if (l.contains(QLatin1String("{ClientExecute} Data for client was sent from cache !!! ")))
                ++fromCache;
            else if (l.contains(QLatin1String("{SocketClosing} Client clossing ")))
                ++closing;
            else
                ++other;
        }
    }
    std::printf("log files: %lld saved + %s: %ld lines: %ld connected, %ld processing, %ld sent from cache, "
                "%ld closing, %ld other, %ld without a time stamp, %ld out of order\n",
                qlonglong(files.size() - 1), qPrintable(QFileInfo(mainLog).fileName()), total, connected, processing,
                fromCache, closing, other, unstamped, backwards);
    return 0;
}

// ---- the window ----------------------------------------------------------------------

int window(const sockaddr_storage& addr, socklen_t len, const std::string& target, int seconds, int clients, qint64 pid)
{
    Display display;
    if (!display.open(pid)) {
        std::fprintf(stderr, "no window of process %lld on the display\n", qlonglong(pid));
        return 1;
    }
    A11y a11y;
    if (!a11y.connect() || !a11y.findApplication(pid)) {
        std::fprintf(stderr, "process %lld is not on the accessibility bus\n", qlonglong(pid));
        return 1;
    }
    a11y.walk();
    Ref startStop, mainLog, timeLog, countLabel;
    const bool found =
        a11y.find(QStringLiteral("push button"),
                  [](const QString& n) { return n == QLatin1String("START") || n == QLatin1String("START/STOP"); },
                  startStop) &&
        a11y.find(QStringLiteral("push button"), [](const QString& n) { return n == QLatin1String("Save and open the main log"); },
                  mainLog) &&
        a11y.find(QStringLiteral("push button"), [](const QString& n) { return n == QLatin1String("Open time log"); }, timeLog) &&
        a11y.find(QStringLiteral("label"),
                  [](const QString& n) {
                      // its fixed name where the name is not yet the text it shows
                      return n.startsWith(QLatin1String("COUNT REQUESTS : ")) || n == QLatin1String("Request count");
                  },
                  countLabel);
    if (!found) {
        std::fprintf(stderr, "START/STOP, the main-log button, \"Open time log\" or the request count not found\n");
        a11y.dump();
        return 1;
    }
    a11y.listenLikeAScreenReader();

    const double rssBefore = rssMb(pid);
    a11y.press(startStop);
    for (int i = 0; i < 300 && !listening(addr, len); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!listening(addr, len)) {
        std::fprintf(stderr, "the window did not START\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double rssStarted = rssMb(pid);

    Latencies pingLoad, pingAfter, busLoad, busAfter;
    double rssMax = rssStarted;
    std::atomic<bool> loading{true};
    std::atomic<bool> probing{true};
    LoadResult load;
    std::thread loader([&] {
        load = runLoad(addr, len, target, seconds, clients);
        loading = false;
    });
    Clock::time_point loadEnd{};
    bool ended = false;
    double recovered = -1;  // ms after the load until a probe was quick again
    while (probing) {
        const bool during = loading.load();
        if (!during && !ended) {
            ended = true;
            loadEnd = Clock::now();
        }
        const double p = display.ping(30000);
        const auto b0 = Clock::now();
        a11y.name(startStop);
        const double b = msSince(b0);
        (during ? pingLoad : pingAfter).add(p < 0 ? 30000 : p);
        (during ? busLoad : busAfter).add(b);
        if (p < 0) ++(during ? pingLoad : pingAfter).lost;
        rssMax = std::max(rssMax, rssMb(pid));
        if (ended && recovered < 0 && p >= 0 && p < 50 && b < 50) recovered = msSince(loadEnd);
        if (ended && msSince(loadEnd) > 5000) probing = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    loader.join();
    const double rssAfter = rssMb(pid);

    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the counts show with the next tick
    QString counted = a11y.text(countLabel);
    if (counted.isEmpty()) counted = a11y.name(countLabel);
    a11y.press(timeLog);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    a11y.press(startStop);
    for (int i = 0; i < 300 && listening(addr, len); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    a11y.press(mainLog);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    printLoad(load, clients);
    std::printf("display ping, during the load: %s\n", pingLoad.text().c_str());
    std::printf("display ping, 5 s after it:    %s\n", pingAfter.text().c_str());
    std::printf("bus call, during the load:     %s\n", busLoad.text().c_str());
    std::printf("bus call, 5 s after it:        %s\n", busAfter.text().c_str());
    std::printf("quick again (both under 50 ms) %.0f ms after the load\n", recovered);
    std::printf("resident memory: %.1f MB before START, %.1f MB started, %.1f MB at most, %.1f MB after the load: "
                "growth %.1f MB\n",
                rssBefore, rssStarted, rssMax, rssAfter, rssMax - rssStarted);
    std::printf("the window counted: %s (requests answered: %ld)\n", qPrintable(counted), load.answered);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "logs" && argc == 5)
        return logs(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
    if ((mode == "load" && argc == 7) || (mode == "window" && argc == 8)) {
        sockaddr_storage addr{};
        socklen_t len = 0;
        if (!resolve(argv[2], argv[3], addr, len)) {
            std::fprintf(stderr, "cannot resolve %s:%s\n", argv[2], argv[3]);
            return 2;
        }
        const int seconds = std::atoi(argv[5]);
        const int clients = std::atoi(argv[6]);
        if (seconds < 1 || clients < 1) return 2;
        if (mode == "load") {
            printLoad(runLoad(addr, len, argv[4], seconds, clients), clients);
            return 0;
        }
        return window(addr, len, argv[4], seconds, clients, std::atoll(argv[7]));
    }
    std::fprintf(stderr,
                 "usage: %s load HOST PORT TARGET SECONDS CLIENTS\n"
                 "       %s window HOST PORT TARGET SECONDS CLIENTS PID\n"
                 "       %s logs LOGDIR MAINLOG TIMELOG\n",
                 argv[0], argv[0], argv[0]);
    return 2;
}
