// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The answer cache on disk: keys, the function folders, reading a cached answer and
// storing a fresh one.
//
// Layout: PathToCache + the function name is the function folder; in it, key + ".cache" is
// the cache file. A store writes a temporary file in the function folder (its name
// never ends in ".cache") and renames it over the cache file, so a reader sees the
// old answer or the new one, never part of one. A cache file that is missing, or
// vanishes before it is read, is a miss.
#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "common/answerformat.h"
#include "config/serversettings.h"
#include "server/answers.h"
#include "server/outgoing.h"
#include "server/request.h"
#include "server/requeststeps.h"

namespace veldra {

namespace cache {

// "[" name "][" kind "]|[" format "]=" in upper case, followed by the prepared query
// unchanged; kind is "-1" for a test client, "0" for a registered one; format is the
// format's name.
QString keyText(const QString& nameRequest, bool testClient, AnswerFormat format, const QString& preparedQuery);
// The key text in UTF-8: texts that differ anywhere give different bytes, and a key
// text in plain ASCII gives its ASCII bytes.
QByteArray keyBytes(const QString& keyText);
// MD5 hex of the key bytes; empty when the prepared query is blank after trimming.
QString cacheKey(const QString& nameRequest, bool testClient, AnswerFormat format, const QString& preparedQuery);

// PathToCache + the function name (PathToCache already ends with "/").
QString functionFolder(const TServerSettings& settings, const QString& nameRequest);
// Function folder + "/" + key + ".cache".
QString cacheFilePath(const TServerSettings& settings, const QString& nameRequest, const QString& key);

// The file bytes of a stored answer, a piece at a time, in order: the answer text in
// UTF-8, behind EF BB BF for the text formats.
void forEachCacheFileChunk(const WireAnswer& answer, AnswerFormat format, const std::function<void(QByteArrayView)>& chunk);
// Writes the bytes that `produce` gives, a piece at a time, through a temporary file in
// the same folder ("<path>.XXXXXX") and a rename; every write and the close are checked,
// and on a failure the temporary file goes and the old cache file stays. False when the
// folder was deleted meanwhile (a cleaning): nothing is stored then. Other failures
// throw FileError.
bool writeCacheFileChunks(const QString& path,
                          const std::function<void(const std::function<void(QByteArrayView)>&)>& produce);

// The answer a cache file holds, as it goes on the wire: for XML and JSON the file
// itself (sent from it), with a registered client's statusText rewritten (see
// rewriteStatusText) in the part up to it; for the text formats the answer text turned
// back into its bytes. Nothing when the file does not exist; an empty or cut file is
// no answer either and is removed. Other read failures throw FileError.
std::optional<Outgoing> cachedAnswer(const QString& path, AnswerFormat format, bool testClient, const QString& dateActive);

// What one request brings to the cache.
struct CacheRequest {
    const TServerSettings& settings;
    QString nameRequest;
    bool testClient = true;
    QString dateActive;
    AnswerFormat format;
};

// Lookup. Computes the key (into `keyOut`); when caching is on and the key's file holds
// an answer, that answer as it goes on the wire (cachedAnswer). Read failures throw.
std::optional<Outgoing> lookup(const CacheRequest& request, const QString& preparedQuery, QString& keyOut);

// Store. Only when caching is on, the key is not empty and the answer is cacheable and
// not empty: creates the function folder (one level) when missing, and the cache folder
// too when it has gone, and writes the answer under the key. Returns whether a file was
// written; a function folder deleted during the store means nothing is stored. Other
// write failures throw FileError.
bool store(const CacheRequest& request, const QString& key, const WireAnswer& answer);

}  // namespace cache

// The request pipeline's two cache steps, on the request and its running settings. A
// request without an answer format has no answer to look up or store: a miss without a
// key.
CacheLookupResult CacheLookup(const Request& request, const TServerSettings& settings, const QString& prepared);
void CacheStore(const Request& request, const TServerSettings& settings, const QString& key, const WireAnswer& answer);

}  // namespace veldra
