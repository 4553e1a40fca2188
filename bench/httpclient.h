// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The client side of the measuring programs: one GET per connection, as every client of
// the server sends it.
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace bench {

inline bool resolve(const char* host, const char* port, sockaddr_storage& out, socklen_t& len)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host, port, &hints, &res) != 0 || !res) return false;
    std::memcpy(&out, res->ai_addr, res->ai_addrlen);
    len = res->ai_addrlen;
    ::freeaddrinfo(res);
    return true;
}

// Everything the server sends until it closes; empty when the connection failed.
inline std::string exchange(const sockaddr_storage& addr, socklen_t len, const std::string& request)
{
    std::string all;
    const int fd = ::socket(addr.ss_family, SOCK_STREAM, 0);
    if (fd < 0) return all;
    timeval tv{60, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
        char buf[65536];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) all.append(buf, size_t(n));
    }
    ::close(fd);
    return all;
}

}  // namespace bench
