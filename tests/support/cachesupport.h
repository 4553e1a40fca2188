// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The cache lookup as a request would use it, on a connection of its own: the answer
// found is sent, the cache line logged and the request counted.
#include "cache/cachefiles.h"
#include "server/connection.h"

namespace veldra::test {

// A cache request with the client it is for.
struct CacheClient : cache::CacheRequest {
    ClientConnection& connection;
    std::function<void(const QString& message)> log;  // writes a standard request log line
};

inline bool lookupAndSend(const CacheClient& request, const QString& preparedQuery, QString& keyOut,
                          const std::function<void()>& countRequest)
{
    std::optional<Outgoing> answer = cache::lookup(request, preparedQuery, keyOut);
    if (!answer) return false;
    request.connection.send(std::move(*answer));
    if (request.log) request.log(QStringLiteral("{ClientExecute} Data for client was sent from cache !!! "));
    if (countRequest) countRequest();
    return true;
}

}  // namespace veldra::test
