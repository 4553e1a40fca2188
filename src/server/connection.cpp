// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/connection.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veldra {

ClientConnection::ClientConnection(int fd, QString peerAddress, bool nonBlocking)
    : m_fd(fd), m_handle(fd), m_peer(std::move(peerAddress))
{
    // No write to a client ever waits: what the socket does not take at once is written
    // as it drains.
    if (nonBlocking || fd < 0) return;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK)) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

ClientConnection::~ClientConnection() { close(); }

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

void ClientConnection::send(Outgoing answer)
{
    if (m_fd < 0 || m_aborted.load()) throw SocketError(QStringLiteral("Socket is closed"));
    m_pending = std::move(answer);
    m_bytesDone = 0;
    if (writePending() == WriteStatus::Failed) {
        const int err = errno;
        dropPending();
        throw SocketError(QStringLiteral("Socket Error # %1\n%2").arg(err).arg(qt_error_string(err)));
    }
}

ClientConnection::WriteStatus ClientConnection::writePending(bool* progressed)
{
    if (progressed) *progressed = false;
    const int fd = m_fd.load();
    if (fd < 0 || m_aborted.load()) {
        errno = EPIPE;
        return WriteStatus::Failed;
    }
    while (m_bytesDone < m_pending.bytes.size()) {
        const ssize_t n = ::send(fd, m_pending.bytes.constData() + m_bytesDone, size_t(m_pending.bytes.size() - m_bytesDone),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return WriteStatus::Blocked;
            return WriteStatus::Failed;
        }
        if (progressed && n > 0) *progressed = true;
        m_bytesDone += n;
    }
    while (m_pending.file && m_pending.fileLength > 0) {
        off_t offset = off_t(m_pending.fileOffset);
        const ssize_t n = ::sendfile(fd, m_pending.file->fd(), &offset, size_t(std::min<qint64>(m_pending.fileLength, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return WriteStatus::Blocked;
            return WriteStatus::Failed;
        }
        if (n == 0) {  // the file is shorter than it was: the answer cannot be completed
            errno = EIO;
            return WriteStatus::Failed;
        }
        if (progressed) *progressed = true;
        m_pending.fileOffset += n;
        m_pending.fileLength -= n;
    }
    m_pending = Outgoing();
    m_bytesDone = 0;
    return WriteStatus::Done;
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

void ClientConnection::movePendingIntoFile()
{
    // bytes in front of a file are its header or a rewritten prefix: small
    if (m_pending.file) return;
    const qsizetype rest = m_pending.bytes.size() - m_bytesDone;
    if (rest <= kPendingInMemory) return;
    try {
        AnswerSpool spool(QString(), 0);
        spool.append(QByteArrayView(m_pending.bytes).sliced(m_bytesDone));
        m_pending = spool.take();
        m_bytesDone = 0;
    } catch (...) {
        // no file to be had: the bytes wait in memory
    }
}

bool ClientConnection::nothingUnread() const
{
    const int fd = m_fd.load();
    if (fd < 0) return true;
    char byte;
    ssize_t n;
    do {
        n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n == 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

bool ClientConnection::shutdownSending()
{
    std::lock_guard lock(m_closeMutex);
    return m_fd >= 0 && !m_aborted.load() && ::shutdown(m_fd, SHUT_WR) == 0;
}

}  // namespace veldra
