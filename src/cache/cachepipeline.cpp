// SPDX-License-Identifier: GPL-3.0-or-later
// The cache steps of the request pipeline. Kept apart from cachefiles.cpp so that the
// file routines can be used without a request.
#include "cache/cachefiles.h"

namespace veldra {

namespace {

cache::CacheRequest cacheRequestOf(const Request& request, const TServerSettings& settings, AnswerFormat format)
{
    return cache::CacheRequest{settings, request.name, request.testClient, request.dateActive, format};
}

}  // namespace

CacheLookupResult CacheLookup(const Request& request, const TServerSettings& settings, const QString& prepared)
{
    CacheLookupResult result;
    if (!request.format) return result;
    result.hit = cache::lookup(cacheRequestOf(request, settings, *request.format), prepared, result.key);
    return result;
}

void CacheStore(const Request& request, const TServerSettings& settings, const QString& key, const WireAnswer& answer)
{
    if (!request.format) return;
    cache::store(cacheRequestOf(request, settings, *request.format), key, answer);
}

}  // namespace veldra
