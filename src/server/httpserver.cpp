// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/httpserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/eventlog.h"
#include "common/mainthread.h"
#include "common/regional.h"
#include "common/threadpool.h"
#include "db/dbconnection.h"
#include "server/connection.h"
#include "server/servercontext.h"
#include "server/tserverthread.h"

namespace veldra {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<quint64> g_nextThreadId{1};

// epoll tags of the handles that are no client connection; a closing connection's tag
// is its record's address with the lowest bit set.
char g_listenTag;
char g_wakeTag;
char g_closingWakeTag;

void* closingTag(void* record) { return reinterpret_cast<void*>(reinterpret_cast<quintptr>(record) | 1u); }
// A sending connection's tag is its record's address with the second bit set.
void* sendingTag(void* record) { return reinterpret_cast<void*>(reinterpret_cast<quintptr>(record) | 2u); }

QString systemError(int err) { return qt_error_string(err); }

// Every waiting connection holds a handle: allow as many as the system lets us.
void raiseHandleLimit()
{
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &r);
    }
}

// True when the bytes hold a complete request line: a line feed after the first
// character that is not blank.
bool requestLineComplete(const QByteArray& bytes, qsizetype& firstNonBlank)
{
    firstNonBlank = -1;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (quint8(bytes[i]) > 32) {
            firstNonBlank = i;
            break;
        }
    return firstNonBlank >= 0 && bytes.indexOf('\n', firstNonBlank) >= 0;
}

}  // namespace

void HttpServer::OpenConnection::abort() const
{
    if (connection) connection->abort();
}

HttpServer::HttpServer(ServerContext& context, std::function<void()> countConnection)
    : m_context(context),
      m_connectionCount([count = std::move(countConnection)](quint64 n) {
          if (count)
              for (quint64 i = 0; i < n; ++i) count();
      })
{
}

HttpServer::~HttpServer() { close(); }

void HttpServer::open(quint16 port)
{
    if (isOpen()) close();
    raiseHandleLimit();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) throw SocketError(QStringLiteral("Could not create socket. ") + systemError(errno));
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        const int err = errno;
        ::close(fd);
        throw SocketError(QStringLiteral("Could not bind socket. ") + systemError(err));
    }
    if (::listen(fd, SOMAXCONN) < 0) {
        const int err = errno;
        ::close(fd);
        throw SocketError(QStringLiteral("Could not listen on socket. ") + systemError(err));
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int closingWake = wake < 0 ? -1 : ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int ep = closingWake < 0 ? -1 : ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event le{EPOLLIN, {.ptr = &g_listenTag}};
    epoll_event we{EPOLLIN, {.ptr = &g_wakeTag}};
    epoll_event ce{EPOLLIN, {.ptr = &g_closingWakeTag}};
    if (ep < 0 || ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &le) < 0 || ::epoll_ctl(ep, EPOLL_CTL_ADD, wake, &we) < 0 ||
        ::epoll_ctl(ep, EPOLL_CTL_ADD, closingWake, &ce) < 0) {
        const int err = errno;
        for (int h : {ep, closingWake, wake})
            if (h >= 0) ::close(h);
        ::close(fd);
        throw SocketError(systemError(err));
    }
    m_listenFd = fd;
    m_wakeFd = wake;
    m_closingWakeFd = closingWake;
    m_epollFd = ep;
    {
        std::lock_guard lock(m_closingMutex);
        m_closingWatched = true;
    }
    m_port = port;
    m_pool = std::make_unique<ThreadPool>(kMaxRequestThreads);
    m_cancel = std::make_unique<DbCancel>();
    m_watchEnded = false;
    m_watchThread = std::thread([this] {
        watch();
        m_watchEnded = true;
    });
}

void HttpServer::watch()
{
    epoll_event events[128];
    for (;;) {
        int timeout = endClosing(false);
        if (!m_waiting.empty()) {
            const int waiting = int(std::max<qint64>(
                0, std::chrono::ceil<std::chrono::milliseconds>(m_waiting.front().deadline - Clock::now()).count()));
            timeout = timeout < 0 ? waiting : std::min(timeout, waiting);
        }
        const int n = ::epoll_wait(m_epollFd, events, 128, timeout);
        if (n < 0 && errno != EINTR) {
            // should not happen; do not spin
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        for (int i = 0; i < n; ++i) {
            void* tag = events[i].data.ptr;
            if (tag == &g_wakeTag) return;
            if (tag == &g_listenTag) {
                acceptWaiting();
            } else if (tag == &g_closingWakeTag) {
                quint64 count;
                [[maybe_unused]] const auto r = ::read(m_closingWakeFd, &count, sizeof count);
            } else if (reinterpret_cast<quintptr>(tag) & 2u) {
                writeSending(reinterpret_cast<Sending*>(reinterpret_cast<quintptr>(tag) & ~quintptr(3)));
            } else if (reinterpret_cast<quintptr>(tag) & 1u) {
                readClosing(reinterpret_cast<Closing*>(reinterpret_cast<quintptr>(tag) & ~quintptr(1)));
            } else {
                readArrived(*static_cast<Waiting*>(tag));
            }
        }
        // The time is up: what has arrived is the request, or there is none.
        const auto now = Clock::now();
        while (!m_waiting.empty() && m_waiting.front().deadline <= now) handOver(m_waiting.front());
    }
}

void HttpServer::acceptWaiting()
{
    for (int k = 0; k < 64; ++k) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            if (errno == EINTR || errno == ECONNABORTED) continue;
            // Out of handles and the like: the connections wait in the queue meanwhile.
            pollfd w{m_wakeFd, POLLIN, 0};
            ::poll(&w, 1, 100);
            return;
        }
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        try {
            httpserverGetThread(fd, QString::fromLatin1(text));
        } catch (...) {
            // The connection is watched all the same; only the log line or the count failed.
        }
    }
}

void HttpServer::httpserverGetThread(int fd, const QString& address)
{
    auto connection = std::make_shared<ClientConnection>(fd, address, true);
    const quint64 id = g_nextThreadId.fetch_add(1);
    Waiting& w = m_waiting.emplace_back();
    w.self = std::prev(m_waiting.end());
    w.connection = connection;
    w.deadline = Clock::now() + kRequestWait;
    {
        std::lock_guard lock(m_mutex);
        w.open = m_open.insert(m_open.end(), connection);
    }
    Logger(u'[' + regional::timeStamp() + QStringLiteral("] \t{httpserverGetThread} Client connected \tIP [") + address +
           QStringLiteral("] \tCreating ThreadID [") + QString::number(id) + QStringLiteral("], SocketHandle [") +
           QString::number(connection->handle()) + u']');
    m_connectionCount.add();

    // Most clients send their request with the connection: it goes to a thread at once.
    if (!readArrived(w) || w.ended) return;
    epoll_event ev{EPOLLIN, {.ptr = &w}};
    if (::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, fd, &ev) == 0)
        w.watched = true;
    else
        w.ended = true;  // answered when the time is up
}

bool HttpServer::readArrived(Waiting& w)
{
    const auto status = w.connection->receiveArrived(w.arrived, kMaxRequestBytes);
    if (status == ClientConnection::ReadStatus::Nothing) return true;
    if (status == ClientConnection::ReadStatus::Closed) {
        if (w.connection->aborted()) {
            drop(w);
            return false;
        }
        qsizetype first;
        requestLineComplete(w.arrived, first);
        if (first >= 0) {
            handOver(w);  // nothing more will come
            return false;
        }
        // Nothing but blanks, and nothing more can come: the client is answered like a
        // silent one once the time is up.
        unwatch(w);
        w.ended = true;
        w.arrived.clear();
        return true;
    }
    qsizetype first;
    if (requestLineComplete(w.arrived, first) || w.arrived.size() >= kMaxRequestBytes) {
        handOver(w);
        return false;
    }
    if (first < 0) w.arrived.clear();  // blanks do not accumulate
    return true;
}

void HttpServer::unwatch(Waiting& w)
{
    if (!w.watched) return;
    ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, w.connection->socket(), nullptr);
    w.watched = false;
}

void HttpServer::handOver(Waiting& w)
{
    unwatch(w);
    auto connection = w.connection;
    const auto open = w.open;
    QByteArray arrived = std::move(w.arrived);
    m_waiting.erase(w.self);
    try {
        m_pool->submit([this, connection, open, arrived = std::move(arrived)] {
            {
                DbCancelScope cancel(m_cancel.get());
                TServerThread request(connection, m_context, arrived);
                request.ClientExecute();
            }
            closeInWatch(connection, open);
        });
    } catch (...) {
        // No thread can be started at all: the connection is closed unanswered.
        connection->close();
        forget(open);
    }
}

void HttpServer::drop(Waiting& w)
{
    unwatch(w);
    w.connection->close();
    forget(w.open);
    m_waiting.erase(w.self);
}

void HttpServer::forget(std::list<std::shared_ptr<ClientConnection>>::iterator open)
{
    std::lock_guard lock(m_mutex);
    m_open.erase(open);
}

void HttpServer::closeInWatch(std::shared_ptr<ClientConnection> connection,
                              std::list<std::shared_ptr<ClientConnection>>::iterator open)
{
    // The common case: the socket took the whole answer and the client sent nothing
    // after its request. The system sends what is queued and then the end; nothing needs
    // watching.
    if (!connection->hasPending() && connection->nothingUnread()) {
        connection->close();
        forget(open);
        return;
    }
    // A client that takes its answer slowly holds a file, not memory.
    if (connection->hasPending()) connection->movePendingIntoFile();
    {
        std::lock_guard lock(m_closingMutex);
        if (m_closingWatched) {
            // The watch learns of a first entry, whose deadline may be nearer than its wait.
            bool first = false;
            bool watched = false;
            if (connection->hasPending()) {
                first = m_sending.empty();
                Sending& w = m_sending.emplace_back();
                w.self = std::prev(m_sending.end());
                w.connection = connection;
                w.open = open;
                w.deadline = Clock::now() + ClientConnection::kSendStall;
                epoll_event ev{EPOLLOUT, {.ptr = sendingTag(&w)}};
                watched = ::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, connection->socket(), &ev) == 0;
                if (!watched) m_sending.erase(w.self);
            } else {
                first = m_closing.empty();
                watched = startClosing(connection, open, false);
            }
            if (watched) {
                if (first) {
                    const quint64 one = 1;
                    [[maybe_unused]] const auto n = ::write(m_closingWakeFd, &one, sizeof one);
                }
                return;
            }
        }
    }
    connection->close();
    forget(open);
}

bool HttpServer::startClosing(const std::shared_ptr<ClientConnection>& connection,
                              std::list<std::shared_ptr<ClientConnection>>::iterator open, bool added)
{
    if (!connection->shutdownSending()) return false;
    Closing& c = m_closing.emplace_back();
    c.self = std::prev(m_closing.end());
    c.connection = connection;
    c.open = open;
    c.deadline = Clock::now() + TServerThread::closeWait;
    epoll_event ev{EPOLLIN, {.ptr = closingTag(&c)}};
    if (::epoll_ctl(m_epollFd, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, connection->socket(), &ev) == 0) return true;
    m_closing.erase(c.self);
    return false;
}

void HttpServer::writeSending(Sending* s)
{
    std::shared_ptr<ClientConnection> ended;
    std::list<std::shared_ptr<ClientConnection>>::iterator open;
    {
        std::lock_guard lock(m_closingMutex);
        bool progressed = false;
        const auto status = s->connection->writePending(&progressed);
        if (status == ClientConnection::WriteStatus::Blocked) {
            if (progressed) {
                // The client takes its answer: its wait starts again, at the end of the line.
                s->deadline = Clock::now() + ClientConnection::kSendStall;
                m_sending.splice(m_sending.end(), m_sending, s->self);
            }
            return;
        }
        ended = std::move(s->connection);
        open = s->open;
        m_sending.erase(s->self);
        if (status == ClientConnection::WriteStatus::Done && !ended->nothingUnread() && startClosing(ended, open, true))
            return;
        ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, ended->socket(), nullptr);
        ended->dropPending();
    }
    ended->close();
    forget(open);
}

void HttpServer::readClosing(Closing* c)
{
    std::shared_ptr<ClientConnection> ended;
    std::list<std::shared_ptr<ClientConnection>>::iterator open;
    {
        std::lock_guard lock(m_closingMutex);
        ClientConnection::ReadStatus status;
        do {
            m_dropped.truncate(0);  // keeps its room for the next read
            status = c->connection->receiveArrived(m_dropped, 64 * 1024);
        } while (status == ClientConnection::ReadStatus::Data);
        if (status != ClientConnection::ReadStatus::Closed) return;
        ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, c->connection->socket(), nullptr);
        ended = std::move(c->connection);
        open = c->open;
        m_closing.erase(c->self);
    }
    ended->close();
    forget(open);
}

int HttpServer::endClosing(bool all)
{
    std::vector<std::shared_ptr<ClientConnection>> ended;
    std::vector<std::list<std::shared_ptr<ClientConnection>>::iterator> opens;
    int next = -1;
    {
        std::lock_guard lock(m_closingMutex);
        const auto now = Clock::now();
        while (!m_closing.empty() && (all || m_closing.front().deadline <= now)) {
            Closing& c = m_closing.front();
            if (m_epollFd >= 0) ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, c.connection->socket(), nullptr);
            ended.push_back(std::move(c.connection));
            opens.push_back(c.open);
            m_closing.pop_front();
        }
        // A client that took nothing of its answer for kSendStall loses it.
        while (!m_sending.empty() && (all || m_sending.front().deadline <= now)) {
            Sending& w = m_sending.front();
            if (m_epollFd >= 0) ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, w.connection->socket(), nullptr);
            w.connection->dropPending();
            ended.push_back(std::move(w.connection));
            opens.push_back(w.open);
            m_sending.pop_front();
        }
        auto until = [&](Clock::time_point t) {
            const int ms = int(std::max<qint64>(0, std::chrono::ceil<std::chrono::milliseconds>(t - now).count()));
            next = next < 0 ? ms : std::min(next, ms);
        };
        if (!m_closing.empty()) until(m_closing.front().deadline);
        if (!m_sending.empty()) until(m_sending.front().deadline);
    }
    for (size_t i = 0; i < ended.size(); ++i) {
        ended[i]->close();
        forget(opens[i]);
    }
    return next;
}

std::vector<HttpServer::OpenConnection> HttpServer::openConnections() const
{
    std::vector<OpenConnection> out;
    std::lock_guard lock(m_mutex);
    for (const auto& c : m_open) out.push_back({c->peerAddress(), c->handle(), c});
    return out;
}

void HttpServer::cancelDatabaseWork()
{
    if (m_cancel) m_cancel->cancel();
}

void HttpServer::close()
{
    if (m_watchThread.joinable()) {
        const quint64 one = 1;
        [[maybe_unused]] const auto n = ::write(m_wakeFd, &one, sizeof one);
        // The watching thread may be waiting for the main thread (log line, count).
        mainthread::serveUntil([this] { return m_watchEnded.load(); });
        m_watchThread.join();
    }
    {
        std::lock_guard lock(m_closingMutex);
        m_closingWatched = false;  // request threads close their connections themselves now
    }
    endClosing(true);
    for (int* fd : {&m_listenFd, &m_wakeFd, &m_closingWakeFd, &m_epollFd})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    cancelDatabaseWork();
    {
        std::lock_guard lock(m_mutex);
        for (const auto& c : m_open) c->abort();
    }
    // The watching thread has ended: its connections are ours now.
    while (!m_waiting.empty()) {
        Waiting& w = m_waiting.front();
        w.watched = false;  // the epoll set is closed already
        drop(w);
    }
    mainthread::serveUntil([this] {
        std::lock_guard lock(m_mutex);
        return m_open.empty();
    });
    m_pool.reset();
    m_cancel.reset();
}

}  // namespace veldra
