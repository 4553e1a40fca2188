#include "cache/cachefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "common/answerformat.h"
#include "common/errors.h"
#include "common/files.h"
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
bool usableFolderName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") && !name.contains(u'/') &&
           !name.contains(QChar(0));
}

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

std::optional<QString> readCacheFile(const QString& path)
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
    QByteArray bytes;
    char buf[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            bytes.append(buf, n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int err = errno;
            ::close(fd);
            throw FileError(QStringLiteral("Cannot read file \"%1\": %2").arg(path, qt_error_string(err)));
        }
    }
    ::close(fd);
    if (bytes.startsWith(kBom)) bytes.remove(0, kBom.size());
    return QString::fromUtf8(bytes);
}

QByteArray cacheFileBytes(const QString& answer, const QString& formatName)
{
    QByteArray bytes = answer.toUtf8();
    if (isTextFormatName(formatName)) bytes.prepend(kBom);
    return bytes;
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
    const std::optional<QString> stored = readCacheFile(cacheFilePath(request.settings, request.nameRequest, keyOut));
    if (!stored) return false;
    const QString answer = rewriteStatusText(*stored, request.formatName, request.testClient, request.dateActive);
    sendAnswer(request.connection, answer, encodingForFormat(request.formatName));
    if (request.log) request.log(QStringLiteral("{ClientExecute} Data for client was sent from cache !!! "));
    if (countRequest) countRequest();
    return true;
}

bool store(const CacheRequest& request, const QString& key, const QString& answer)
{
    if (key.isEmpty() || trim(answer).isEmpty() || answer.startsWith(kNoCache)) return false;
    if (!veldra::cacheInUse(request.settings) || !usableFolderName(request.nameRequest)) return false;
    const QString folder = functionFolder(request.settings, request.nameRequest);
    if (!QFileInfo(folder).isDir()) {
        QDir().mkdir(folder);
        if (!QFileInfo(folder).isDir()) return false;
    }
    return writeCacheFile(cacheFilePath(request.settings, request.nameRequest, key),
                          cacheFileBytes(answer, request.formatName));
}

}  // namespace veldra::cache
