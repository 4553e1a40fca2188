// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The answer cache on disk: keys, the function folders, reading a cached answer and
// storing a fresh one.
//
// Layout: PathToCache + NameRequest is the function folder; in it, key + ".cache" is
// the cache file. A store writes a temporary file in the function folder (its name
// never ends in ".cache") and renames it over the cache file, so a reader sees the
// old answer or the new one, never part of one. A cache file that is missing, or
// vanishes before it is read, is a miss.
#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "config/serversettings.h"
#include "server/answers.h"
#include "server/outgoing.h"

namespace veldra {

class TServerThread;

namespace cache {

// "[" name "][" kind "]|[" format "]=" in upper case, followed by the prepared query
// unchanged; kind is "-1" for a test client, "0" for a registered one.
QString keyText(const QString& nameRequest, bool testClient, const QString& formatName, const QString& preparedQuery);
// The key text in UTF-8: texts that differ anywhere give different bytes, and a key
// text in plain ASCII gives its ASCII bytes.
QByteArray keyBytes(const QString& keyText);
// MD5 hex of the key bytes; empty when the prepared query is blank after trimming.
QString cacheKey(const QString& nameRequest, bool testClient, const QString& formatName, const QString& preparedQuery);

// PathToCache + NameRequest (PathToCache already ends with "/").
QString functionFolder(const TServerSettings& settings, const QString& nameRequest);
// Function folder + "/" + key + ".cache".
QString cacheFilePath(const TServerSettings& settings, const QString& nameRequest, const QString& key);


// The file bytes of a stored answer: the answer text in UTF-8, behind EF BB BF for the
// text formats.
QByteArray cacheFileBytes(const QString& answer, const QString& formatName);
// The same for an answer in its wire form.
QByteArray cacheFileBytes(const WireAnswer& answer, const QString& formatName);
// The same, a piece at a time, in order.
void forEachCacheFileChunk(const WireAnswer& answer, const QString& formatName,
                           const std::function<void(QByteArrayView)>& chunk);
// Writes the bytes through a temporary file in the same folder ("<path>.XXXXXX") and a
// rename; every write and the close are checked, and on a failure the temporary file
// goes and the old cache file stays. False when the folder was deleted meanwhile (a
// cleaning): nothing is stored then. Other failures throw FileError.
bool writeCacheFile(const QString& path, const QByteArray& bytes);
// The same with the bytes given a piece at a time by `produce`.
bool writeCacheFileChunks(const QString& path,
                          const std::function<void(const std::function<void(QByteArrayView)>&)>& produce);

// The answer a cache file holds, as it goes on the wire: for XML and JSON the file
// itself (sent from it), with a registered client's statusText rewritten (see
// rewriteStatusText) in the part up to it; for the text formats the answer text turned
// back into its bytes. Nothing when the file does not exist; an empty or cut file is
// no answer either and is removed. Other read failures throw FileError.
std::optional<Outgoing> cachedAnswer(const QString& path, const QString& formatName, bool testClient,
                                     const QString& dateActive);

// A registered client's answer in a non-text format names its own end date: every
// occurrence of the stored statusText value is replaced by "Final date of use : " +
// dateActive. The value is taken from the JSON form ("statusText": "..."), or failing
// that from the XML form (<statusText>...</statusText>). Test clients and text formats
// are returned unchanged.
QString rewriteStatusText(const QString& answer, const QString& formatName, bool testClient, const QString& dateActive);

// What one request brings to the cache.
struct CacheRequest {
    const TServerSettings& settings;
    QString nameRequest;
    bool testClient = true;
    QString dateActive;
    QString formatName;
};

// Lookup. Computes the key (into `keyOut`); when caching is on and the key's file holds
// an answer, that answer as it goes on the wire (cachedAnswer). Read failures throw.
std::optional<Outgoing> lookup(const CacheRequest& request, const QString& preparedQuery, QString& keyOut);

// Store. Only when caching is on, the key is not empty and the answer is neither
// empty nor marked "[nocache]": creates the function folder (one level) when missing,
// and the cache folder too when it has gone, and writes the answer under the key. Returns whether a file was written; a function
// folder deleted during the store means nothing is stored. Other write failures throw
// FileError.
bool store(const CacheRequest& request, const QString& key, const QString& answer);
// The same for an answer in its wire form; one that is not cacheable is not stored.
bool store(const CacheRequest& request, const QString& key, const WireAnswer& answer);

}  // namespace cache

// The request pipeline's two cache steps, on the request's record and running
// settings; both fill request.CreateNameForCache.
std::optional<Outgoing> CacheLookup(TServerThread& request, const QString& prepared);
void CacheStore(TServerThread& request, const WireAnswer& answer);

}  // namespace veldra
