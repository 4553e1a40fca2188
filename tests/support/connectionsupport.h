// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Ending a connection without the listener: what is pending is written as the client
// takes it, the sending side is ended, and the client is given up to two seconds to
// close its side before the connection is closed.
#include <QByteArray>
#include <chrono>
#include <poll.h>

#include "server/connection.h"

namespace veldra::test {

inline void finishHere(ClientConnection& c)
{
    while (c.hasPending()) {
        pollfd p{c.socket(), POLLOUT, 0};
        if (c.socket() < 0 || ::poll(&p, 1, 60000) <= 0) break;
        if (c.writePending() != ClientConnection::WriteStatus::Blocked) break;
    }
    c.dropPending();
    if (c.shutdownSending()) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        QByteArray sink;
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{c.socket(), POLLIN, 0};
            if (::poll(&p, 1, 100) < 0) break;
            sink.truncate(0);
            if (c.receiveArrived(sink, 64 * 1024) == ClientConnection::ReadStatus::Closed) break;
        }
    }
    c.close();
}

}  // namespace veldra::test
