// SPDX-License-Identifier: GPL-3.0-or-later
#include "cache/cachefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/answerformat.h"
#include "common/cp1252.h"
#include "common/errors.h"
#include "common/files.h"
#include "common/functionname.h"
#include "common/md5.h"
#include "common/text.h"
#include "server/answers.h"
#include "server/connection.h"

namespace veldra::cache {

namespace {

const QByteArray kBom("\xEF\xBB\xBF", 3);
const QString kJsonStatusStart = QStringLiteral("\"statusText\": \"");
const QString kJsonStatusEnd = QStringLiteral("\",");
const QString kXmlStatusStart = QStringLiteral("<statusText>");
const QString kXmlStatusEnd = QStringLiteral("</statusText>");
const QString kNoCache = QStringLiteral("[nocache]");

// A function folder must be one folder inside the cache folder.
bool usableFolderName(const QString& name) { return isUsableFunctionName(name); }

}  // namespace

QString keyText(const QString& nameRequest, bool testClient, const QString& formatName, const QString& preparedQuery)
{
    const QString prefix = u'[' + trim(nameRequest) + QStringLiteral("][") +
                           (testClient ? QStringLiteral("-1") : QStringLiteral("0")) + QStringLiteral("]|[") +
                           formatName + QStringLiteral("]=");
    return prefix.toUpper() + preparedQuery;
}

QByteArray keyBytes(const QString& keyText) { return keyText.toUtf8(); }

QString cacheKey(const QString& nameRequest, bool testClient, const QString& formatName, const QString& preparedQuery)
{
    if (trim(preparedQuery).isEmpty()) return {};
    return md5Hex(keyBytes(keyText(nameRequest, testClient, formatName, preparedQuery)));
}

QString functionFolder(const TServerSettings& settings, const QString& nameRequest)
{
    return settings.PathToCache + nameRequest;
}

QString cacheFilePath(const TServerSettings& settings, const QString& nameRequest, const QString& key)
{
    return functionFolder(settings, nameRequest) + u'/' + key + QStringLiteral(".cache");
}

std::optional<QByteArray> readCacheFileBytes(const QString& path)
{
    // Plain POSIX calls: a missing file must be told apart from other failures by its
    // error code, not by a second look at the folder (a store may have put the file
    // back in between).
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return std::nullopt;
        throw FileError(QStringLiteral("Cannot open file \"%1\": %2").arg(path, qt_error_string(err)));
    }
    // Read straight into one block of the file's size (plus room to see its end).
    QByteArray bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) bytes.reserve(qsizetype(st.st_size) + 1);
    for (;;) {
        const qsizetype had = bytes.size();
        const qsizetype room = std::max<qsizetype>(bytes.capacity() - had, 64 * 1024);
        bytes.resize(had + room);
        const ssize_t n = ::read(fd, bytes.data() + had, size_t(room));
        bytes.resize(had + std::max<ssize_t>(n, 0));
        if (n > 0) continue;
        if (n == 0) break;
        if (errno != EINTR) {
            const int err = errno;
            ::close(fd);
            throw FileError(QStringLiteral("Cannot read file \"%1\": %2").arg(path, qt_error_string(err)));
        }
    }
    ::close(fd);
    if (bytes.startsWith(kBom)) bytes.remove(0, kBom.size());
    return bytes;
}

std::optional<QString> readCacheFile(const QString& path)
{
    const std::optional<QByteArray> bytes = readCacheFileBytes(path);
    if (!bytes) return std::nullopt;
    return QString::fromUtf8(*bytes);
}

QByteArray cacheFileBytes(const QString& answer, const QString& formatName)
{
    QByteArray bytes = answer.toUtf8();
    if (isTextFormatName(formatName)) bytes.prepend(kBom);
    return bytes;
}

QByteArray cacheFileBytes(const WireAnswer& answer, const QString& formatName)
{
    // Markup goes on the wire as the UTF-8 the file holds. A text format's answer text is
    // its header lines and one Windows-1252 character per body byte.
    if (!isTextFormatName(formatName)) return answer.bytes;
    const QByteArrayView body = QByteArrayView(answer.bytes).sliced(answer.wireHeadSize);
    return kBom + answer.cacheHead + cp1252::decodeToUtf8(body);
}

bool writeCacheFile(const QString& path, const QByteArray& bytes)
{
    // A cleaning may delete the function folder at any time: that stores nothing.
    return writeFileAtomicallyIfFolderStays(path, bytes);
}

QString rewriteStatusText(const QString& answer, const QString& formatName, bool testClient, const QString& dateActive)
{
    if (testClient || isTextFormatName(formatName)) return answer;
    QString stored = textBetween(answer, kJsonStatusStart, kJsonStatusEnd);
    if (stored.isEmpty()) stored = textBetween(answer, kXmlStatusStart, kXmlStatusEnd);
    if (stored.isEmpty()) return answer;
    return replaceAllNoCase(answer, stored, QStringLiteral("Final date of use : ") + dateActive);
}

bool lookupAndSend(const CacheRequest& request, const QString& preparedQuery, QString& keyOut,
                   const std::function<void()>& countRequest)
{
    keyOut = cacheKey(request.nameRequest, request.testClient, request.formatName, preparedQuery);
    if (keyOut.isEmpty() || !veldra::cacheInUse(request.settings) || !usableFolderName(request.nameRequest)) return false;
    const std::optional<QByteArray> stored =
        readCacheFileBytes(cacheFilePath(request.settings, request.nameRequest, keyOut));
    if (!stored) return false;
    if (request.testClient && !isTextFormatName(request.formatName) && isValidUtf8(*stored)) {
        // the file holds the very bytes to send
        request.connection.send(*stored);
    } else {
        const QString answer =
            rewriteStatusText(QString::fromUtf8(*stored), request.formatName, request.testClient, request.dateActive);
        sendAnswer(request.connection, answer, encodingForFormat(request.formatName));
    }
    if (request.log) request.log(QStringLiteral("{ClientExecute} Data for client was sent from cache !!! "));
    if (countRequest) countRequest();
    return true;
}

namespace {

// The part of a store after the checks of the answer: the cache in use, the function
// folder there; `fileBytes` makes the file's bytes.
bool storeFile(const CacheRequest& request, const QString& key, const std::function<QByteArray()>& fileBytes)
{
    if (key.isEmpty() || !veldra::cacheInUse(request.settings) || !usableFolderName(request.nameRequest)) return false;
    const QString folder = functionFolder(request.settings, request.nameRequest);
    if (!QFileInfo(folder).isDir()) {
        QDir().mkdir(folder);
        if (!QFileInfo(folder).isDir()) return false;
    }
    return writeCacheFile(cacheFilePath(request.settings, request.nameRequest, key), fileBytes());
}

}  // namespace

bool store(const CacheRequest& request, const QString& key, const QString& answer)
{
    if (trim(answer).isEmpty() || answer.startsWith(kNoCache)) return false;
    return storeFile(request, key, [&] { return cacheFileBytes(answer, request.formatName); });
}

bool store(const CacheRequest& request, const QString& key, const WireAnswer& answer)
{
    if (!answer.cacheable || isBlank(answer.bytes)) return false;
    return storeFile(request, key, [&] { return cacheFileBytes(answer, request.formatName); });
}

}  // namespace veldra::cache
