// SPDX-License-Identifier: GPL-3.0-or-later
// The cache steps on a request thread's record. Kept apart from cachefiles.cpp so that
// the file routines can be used without the request thread.
#include "cache/cachefiles.h"
#include "server/tserverthread.h"

namespace veldra {

namespace {

cache::CacheRequest cacheRequestOf(TServerThread& request)
{
    return cache::CacheRequest{request.settings(),
                               request.NameRequest,
                               request.TestClient,
                               request.DateActive,
                               request.NecessaryFormatAnswer};
}

}  // namespace

std::optional<Outgoing> CacheLookup(TServerThread& request, const QString& prepared)
{
    QString key;
    std::optional<Outgoing> answer = cache::lookup(cacheRequestOf(request), prepared, key);
    request.CreateNameForCache = key;
    return answer;
}

void CacheStore(TServerThread& request, const WireAnswer& answer)
{
    cache::store(cacheRequestOf(request), request.CreateNameForCache, answer);
}

}  // namespace veldra
