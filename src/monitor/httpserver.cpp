#include "monitor/httpserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/eventlog.h"
#include "common/mainthread.h"
#include "common/regional.h"
#include "server/connection.h"
#include "server/servercontext.h"
#include "server/tserverthread.h"

namespace veldra {
namespace {

std::atomic<quint64> g_nextThreadId{1};

QString systemError(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

}  // namespace

void HttpServer::OpenConnection::abort() const
{
    if (connection) connection->abort();
}

HttpServer::HttpServer(ServerContext& context, std::function<void()> countConnection)
    : m_context(context), m_countConnection(std::move(countConnection))
{
}

HttpServer::~HttpServer() { close(); }

void HttpServer::open(quint16 port)
{
    if (isOpen()) close();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
    if (::listen(fd, 5) < 0) {
        const int err = errno;
        ::close(fd);
        throw SocketError(QStringLiteral("Could not listen on socket. ") + systemError(err));
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        const int err = errno;
        ::close(fd);
        throw SocketError(systemError(err));
    }
    m_listenFd = fd;
    m_wakeFd = wake;
    m_port = port;
    m_acceptEnded = false;
    m_acceptThread = std::thread([this] {
        acceptLoop();
        m_acceptEnded = true;
    });
}

void HttpServer::acceptLoop()
{
    for (;;) {
        pollfd p[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int r = ::poll(p, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        if (!(p[0].revents & POLLIN)) {
            if (p[0].revents & (POLLERR | POLLNVAL)) return;
            continue;
        }
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of handles and the like: wait a little instead of spinning.
            if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN) {
                pollfd w{m_wakeFd, POLLIN, 0};
                if (::poll(&w, 1, 100) > 0) return;
            }
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        try {
            httpserverGetThread(fd, QString::fromLatin1(text));
        } catch (...) {
            // The connection's own thread goes on; only the log line or the count failed.
        }
        reapFinished();
    }
}

void HttpServer::httpserverGetThread(int fd, const QString& address)
{
    auto connection = std::make_shared<ClientConnection>(fd, address);
    const quint64 id = g_nextThreadId.fetch_add(1);
    {
        std::lock_guard lock(m_mutex);
        Worker& w = m_workers.emplace_back();
        w.connection = connection;
        try {
            w.thread = std::thread([this, connection, id, &w] {
                TServerThread request(connection, m_context, id);
                request.ClientExecute();
                w.finished = true;
            });
        } catch (...) {
            // No thread for it: the connection is dropped.
            m_workers.pop_back();
            throw;
        }
    }
    Logger(u'[' + regional::timeStamp() + QStringLiteral("] \t{httpserverGetThread} Client connected \tIP [") + address +
           QStringLiteral("] \tCreating ThreadID [") + QString::number(id) + QStringLiteral("], SocketHandle [") +
           QString::number(connection->handle()) + u']');
    if (m_countConnection) mainthread::runSync(m_countConnection);
}

void HttpServer::reapFinished()
{
    std::list<Worker> done;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            auto next = std::next(it);
            if (it->finished) done.splice(done.end(), m_workers, it);
            it = next;
        }
    }
    for (Worker& w : done)
        if (w.thread.joinable()) w.thread.join();
}

std::vector<HttpServer::OpenConnection> HttpServer::openConnections() const
{
    std::vector<OpenConnection> out;
    std::lock_guard lock(m_mutex);
    for (const Worker& w : m_workers)
        if (!w.finished) out.push_back({w.connection->peerAddress(), w.connection->handle(), w.connection});
    return out;
}

void HttpServer::close()
{
    if (m_acceptThread.joinable()) {
        const quint64 one = 1;
        [[maybe_unused]] const auto n = ::write(m_wakeFd, &one, sizeof one);
        // The accepting thread may be waiting for the main thread (log line, count).
        mainthread::serveUntil([this] { return m_acceptEnded.load(); });
        m_acceptThread.join();
    }
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
    }
    {
        std::lock_guard lock(m_mutex);
        for (Worker& w : m_workers) w.connection->abort();
    }
    mainthread::serveUntil([this] {
        std::lock_guard lock(m_mutex);
        for (const Worker& w : m_workers)
            if (!w.finished) return false;
        return true;
    });
    std::list<Worker> all;
    {
        std::lock_guard lock(m_mutex);
        all.swap(m_workers);
    }
    for (Worker& w : all)
        if (w.thread.joinable()) w.thread.join();
}

}  // namespace veldra
