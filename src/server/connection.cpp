// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/connection.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veldra {

ClientConnection::ClientConnection(int fd, QString peerAddress) : m_fd(fd), m_handle(fd), m_peer(std::move(peerAddress)) {}

ClientConnection::~ClientConnection() { close(); }

ClientConnection::ReadStatus ClientConnection::receiveAvailable(std::chrono::milliseconds timeout, QByteArray& out,
                                                                qsizetype maxBytes)
{
    out.clear();
    if (m_fd < 0 || m_aborted.load()) return ReadStatus::Closed;
    pollfd p{m_fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, int(std::max<std::chrono::milliseconds::rep>(0, timeout.count())));
    } while (r < 0 && errno == EINTR);
    if (r < 0) throw SocketError(qt_error_string(errno));
    if (r == 0) return ReadStatus::Nothing;
    if (m_aborted.load()) return ReadStatus::Closed;
    out.resize(maxBytes);
    ssize_t n;
    do {
        n = ::recv(m_fd, out.data(), size_t(maxBytes), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        out.clear();
        return ReadStatus::Closed;
    }
    out.truncate(n);
    return ReadStatus::Data;
}

ClientConnection::ReadStatus ClientConnection::receiveArrived(QByteArray& buffer, qsizetype maxBytes)
{
    if (m_fd < 0 || m_aborted.load()) return ReadStatus::Closed;
    const qsizetype had = buffer.size();
    const qsizetype room = maxBytes - had;
    if (room <= 0) return ReadStatus::Nothing;
    buffer.resize(maxBytes);
    ssize_t n;
    do {
        n = ::recv(m_fd, buffer.data() + had, size_t(room), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    buffer.truncate(had + std::max<ssize_t>(n, 0));
    if (n > 0) return m_aborted.load() ? ReadStatus::Closed : ReadStatus::Data;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ReadStatus::Nothing;
    return ReadStatus::Closed;
}

void ClientConnection::send(const QByteArray& bytes)
{
    if (m_fd < 0 || m_aborted.load()) throw SocketError(QStringLiteral("Socket is closed"));
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::send(m_fd, p, size_t(left), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SocketError(QStringLiteral("Socket Error # %1\n%2").arg(errno).arg(qt_error_string(errno)));
        }
        p += n;
        left -= n;
    }
}

void ClientConnection::abort()
{
    std::lock_guard lock(m_closeMutex);
    m_aborted.store(true);
    // shutdown, not close: the handle stays ours until the request thread closes it
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
}

void ClientConnection::close()
{
    std::lock_guard lock(m_closeMutex);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace veldra

namespace veldra {

bool ClientConnection::shutdownSending()
{
    std::lock_guard lock(m_closeMutex);
    return m_fd >= 0 && !m_aborted.load() && ::shutdown(m_fd, SHUT_WR) == 0;
}

void ClientConnection::closeGracefully(std::chrono::milliseconds linger)
{
    if (shutdownSending()) {
        const auto deadline = std::chrono::steady_clock::now() + linger;
        QByteArray sink;
        try {
            for (;;) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) break;
                if (receiveAvailable(left, sink) == ReadStatus::Closed) break;
            }
        } catch (const SocketError&) {
        }
    }
    close();
}

}  // namespace veldra
