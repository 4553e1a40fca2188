// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One accepted client connection: a connected TCP socket, its peer's dotted IPv4
// address and its handle.
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "common/errors.h"
#include "server/outgoing.h"

namespace veldra {

class SocketError : public Error {
public:
    explicit SocketError(const QString& message) : Error(QStringLiteral("ESocketError"), message) {}
};

class ClientConnection {
public:
    // Takes ownership of a connected socket, which is made non-blocking unless
    // `nonBlocking` says it is already (the listener accepts it so).
    ClientConnection(int fd, QString peerAddress, bool nonBlocking = false);
    ~ClientConnection();
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    const QString& peerAddress() const { return m_peer; }
    // The socket handle written into log lines.
    qintptr handle() const { return m_handle; }

    // The socket, for a readiness wait over many connections.
    int socket() const { return m_fd.load(); }

    enum class ReadStatus { Data, Nothing, Closed };
    // Appends what has arrived, without waiting, up to `maxBytes` in `buffer` all told.
    // Nothing: no byte waits now.
    ReadStatus receiveArrived(QByteArray& buffer, qsizetype maxBytes);
    // Sends what the socket takes at once, without waiting, and keeps the rest to be
    // written later by writePending() (the listener's watching thread). Throws
    // SocketError when the connection is closed or the write fails.
    void send(Outgoing answer);
    void send(const QByteArray& bytes) { send(Outgoing{bytes}); }
    // True while bytes of the answer wait to be written.
    // What of a pending answer may wait in memory for a client that does not take it at
    // once; the rest goes on into an unnamed file (movePendingIntoFile).
    static constexpr qsizetype kPendingInMemory = 256 * 1024;
    // Moves the pending bytes into an unnamed file of the system's temporary folder when
    // more than kPendingInMemory of them are left; without a file they stay in memory.
    void movePendingIntoFile();
    // True when no byte from the client waits to be read (it may have closed its side).
    // Closing such a connection at once loses nothing of the answer; unread bytes would
    // make the system reset it.
    bool nothingUnread() const;
    // What of the pending answer is held in memory.
    qsizetype pendingInMemory() const { return m_pending.bytes.size() - m_bytesDone; }
    bool hasPending() const { return m_bytesDone < m_pending.bytes.size() || (m_pending.file && m_pending.fileLength > 0); }
    enum class WriteStatus { Done, Blocked, Failed };
    // Writes what the socket takes now of what is pending. `progressed` tells whether
    // any byte went.
    WriteStatus writePending(bool* progressed = nullptr);
    // Drops what is pending (the client took nothing for too long).
    void dropPending()
    {
        m_pending = Outgoing();
        m_bytesDone = 0;
    }
    // A client that takes nothing of its answer for this long loses its connection.
    static constexpr std::chrono::seconds kSendStall{60};
    // Ends the connection from another thread (STOP): reads and sends fail from now on.
    void abort();
    bool aborted() const { return m_aborted.load(); }
    // Closes the socket (the owning request thread, when it finishes).
    void close();
    // Ends the sending side (closing while unread bytes wait would reset the connection
    // and could cost the client the answer). True when the client is now to be waited
    // for (the connection is open and was not ended by STOP).
    bool shutdownSending();

private:
    std::atomic<int> m_fd;
    qintptr m_handle;
    QString m_peer;
    std::atomic<bool> m_aborted{false};
    qsizetype m_bytesDone = 0;  // of m_pending.bytes
    Outgoing m_pending;  // owned by whoever holds the connection: request thread, then the watch
    // abort() (another thread) and close() (the owner) never meet on a handle that is
    // being given back to the system.
    std::mutex m_closeMutex;
};

}  // namespace veldra
