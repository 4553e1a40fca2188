// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The cache lookup as a request would use it, on a connection of its own: the answer
// found is sent, the cache line logged and the request counted. And the cache's stores
// in the text form tests write answers in.
#include "cache/cachefiles.h"
#include "common/cp1252.h"
#include "common/text.h"
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

// Stores an answer text as the cache file it makes: the text in UTF-8, behind EF BB BF
// for the text formats. Nothing for a blank text or one marked "[nocache]" (an answer
// that is not cacheable), as for such a wire answer; otherwise as cache::store.
inline bool storeText(const cache::CacheRequest& request, const QString& key, const QString& answer)
{
    if (trim(answer).isEmpty() || answer.startsWith(QLatin1String("[nocache]"))) return false;
    WireAnswer wire;
    wire.cacheable = true;
    if (request.format.isText()) {
        // The whole text as the head the cache file holds, so that it is stored as it stands.
        wire.wire.bytes = cp1252::encode(answer);
        wire.cacheHead = answer.toUtf8();
        wire.wireHeadSize = wire.wire.bytes.size();
    } else {
        wire.wire.bytes = answer.toUtf8();
    }
    return cache::store(request, key, wire);
}

// Writes one cache file whole, as cache::writeCacheFileChunks does.
inline bool writeCacheFile(const QString& path, const QByteArray& bytes)
{
    return cache::writeCacheFileChunks(path, [&](const auto& chunk) { chunk(bytes); });
}

}  // namespace veldra::test
