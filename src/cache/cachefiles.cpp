// SPDX-License-Identifier: GPL-3.0-or-later
#include "cache/cachefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <memory>
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

namespace veldra::cache {

namespace {

const QByteArray kBom("\xEF\xBB\xBF", 3);

// A function folder must be one folder inside the cache folder.
bool usableFolderName(const QString& name) { return isUsableFunctionName(name); }

}  // namespace

QString keyText(const QString& nameRequest, bool testClient, AnswerFormat format, const QString& preparedQuery)
{
    const QString prefix = u'[' + trim(nameRequest) + QStringLiteral("][") +
                           (testClient ? QStringLiteral("-1") : QStringLiteral("0")) + QStringLiteral("]|[") +
                           format.name() + QStringLiteral("]=");
    return prefix.toUpper() + preparedQuery;
}

QByteArray keyBytes(const QString& keyText) { return keyText.toUtf8(); }

QString cacheKey(const QString& nameRequest, bool testClient, AnswerFormat format, const QString& preparedQuery)
{
    if (trim(preparedQuery).isEmpty()) return {};
    return md5Hex(keyBytes(keyText(nameRequest, testClient, format, preparedQuery)));
}

QString functionFolder(const TServerSettings& settings, const QString& nameRequest)
{
    return settings.PathToCache + nameRequest;
}

QString cacheFilePath(const TServerSettings& settings, const QString& nameRequest, const QString& key)
{
    return functionFolder(settings, nameRequest) + u'/' + key + QStringLiteral(".cache");
}

void forEachCacheFileChunk(const WireAnswer& answer, AnswerFormat format, const std::function<void(QByteArrayView)>& chunk)
{
    // Markup goes on the wire as the UTF-8 the file holds. A text format's answer text is
    // its header lines and one Windows-1252 character per body byte.
    if (!format.isText()) {
        answer.wire.forEachChunk(chunk);
        return;
    }
    chunk(kBom);
    chunk(answer.cacheHead);
    qint64 skip = answer.wireHeadSize;
    answer.wire.forEachChunk([&](QByteArrayView c) {
        if (skip >= c.size()) {
            skip -= c.size();
            return;
        }
        chunk(cp1252::decodeToUtf8(c.sliced(qsizetype(skip))));
        skip = 0;
    });
}

namespace {

// "<path>.XXXXXX": never ends in ".cache", so no reader or cleaning takes it for an answer.
QByteArray tempTemplate(const QString& path) { return QFile::encodeName(path) + ".XXXXXX"; }

// A missing folder (a cleaning deleted it) is no failure: nothing is stored then.
bool folderGone(int err) { return err == ENOENT || err == ENOTDIR; }

}  // namespace

bool writeCacheFileChunks(const QString& path, const std::function<void(const std::function<void(QByteArrayView)>&)>& produce)
{
    return writeFileAtomicallyIfFolderStays(path, produce);
}


namespace {

// Gives an unnamed file of the function folder (the spool an answer was written into)
// the cache file's name. Nothing when the link cannot be made (the caller writes the
// file then); false when the folder is gone.
std::optional<bool> linkCacheFile(const QString& path, int fd)
{
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 8; ++attempt) {
        QByteArray temp = tempTemplate(path);
        // a free name of the same form as mkostemp's
        static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (qsizetype i = temp.size() - 6; i < temp.size(); ++i) temp[i] = kLetters[QRandomGenerator::global()->bounded(62)];
        if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, temp.constData(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) continue;
            if (folderGone(errno) && !QFileInfo(QFileInfo(path).absolutePath()).isDir()) return false;
            return std::nullopt;
        }
        if (::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
            const int err = errno;
            ::unlink(temp.constData());
            if (folderGone(err)) return false;
            return std::nullopt;
        }
        return true;
    }
    return std::nullopt;
}

const QByteArray kStatusLine("HTTP/1.1 200 OK\r\n");
constexpr qsizetype kHeadRead = 64 * 1024;

// Reads up to `length` bytes at `offset` into `into`; fewer only at the end of the file.
qsizetype readInto(int fd, char* into, qint64 offset, qsizetype length, const QString& path)
{
    qsizetype got = 0;
    while (got < length) {
        const qsizetype want = length - got;
        const ssize_t n = ::pread(fd, into + got, size_t(want), offset + got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw FileError(QStringLiteral("Cannot read file \"%1\": %2").arg(path, qt_error_string(errno)));
        got += n;
        // a regular file reads short only at its end
        if (n < want) break;
    }
    return got;
}

QByteArray readAt(int fd, qint64 offset, qsizetype length, const QString& path)
{
    QByteArray bytes(length, Qt::Uninitialized);
    bytes.truncate(readInto(fd, bytes.data(), offset, length, path));
    return bytes;
}

// Up to kHeadRead bytes from the start of the file, read through a buffer of the
// thread's own, so that a small file costs one block of its own size.
QByteArray readHead(int fd, const QString& path)
{
    thread_local std::unique_ptr<char[]> buffer(new char[kHeadRead]);
    return QByteArray(buffer.get(), readInto(fd, buffer.get(), 0, kHeadRead, path));
}

// A cache file holds a whole answer: the status line, the header lines and the empty
// line, and for markup the body up to its closing "}" or ">". An empty or cut file (a
// full disk, a crash) is none.
bool holdsWholeAnswer(const QByteArray& head, qsizetype start, int fd, qint64 size, bool markup, const QString& path)
{
    if (!QByteArrayView(head).sliced(start).startsWith(kStatusLine) || head.indexOf("\r\n\r\n", start) < 0) return false;
    if (!markup) return true;
    const qsizetype tailSize = qsizetype(std::min<qint64>(size, 64));
    // a file read whole holds its tail already
    const QByteArray tail =
        size == head.size() ? head.right(tailSize) : readAt(fd, size - tailSize, tailSize, path);
    qsizetype i = tail.size() - 1;
    while (i >= 0 && quint8(tail[i]) <= 32) --i;
    return i >= 0 && (tail[i] == '}' || tail[i] == '>');
}

// Removes the broken file at `path`, unless another store has put a new one there.
void removeBroken(const QString& path, const struct stat& seen)
{
    struct stat now {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &now) == 0 && now.st_ino == seen.st_ino && now.st_dev == seen.st_dev) ::unlink(name.constData());
}

// The part of a registered client's markup answer up to and with its statusText, in
// which the stored value is replaced; the rest goes from the file as it is. Nothing
// when the head holds no statusText value.
std::optional<QByteArray> rewrittenPrefix(const QByteArray& head, qsizetype start, const QString& dateActive, qsizetype& prefixEnd)
{
    const std::pair<QByteArray, QByteArray> forms[] = {{"\"statusText\": \"", "\","}, {"<statusText>", "</statusText>"}};
    for (const auto& [open, close] : forms) {
        const qsizetype a = head.indexOf(open, start);
        if (a < 0) continue;
        const qsizetype b = head.indexOf(close, a + open.size());
        if (b < 0 || b == a + open.size()) continue;
        prefixEnd = b + close.size();
        const QString stored = QString::fromUtf8(head.mid(a + open.size(), b - a - open.size()));
        const QString prefix = QString::fromUtf8(head.mid(start, prefixEnd - start));
        return replaceAllNoCase(prefix, stored, QStringLiteral("Final date of use : ") + dateActive).toUtf8();
    }
    return std::nullopt;
}

}  // namespace

std::optional<Outgoing> cachedAnswer(const QString& path, AnswerFormat format, bool testClient, const QString& dateActive)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return std::nullopt;
        throw FileError(QStringLiteral("Cannot open file \"%1\": %2").arg(path, qt_error_string(err)));
    }
    auto file = std::make_shared<OpenFile>(fd);
    const auto fileStat = [&] {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            throw FileError(QStringLiteral("Cannot read file \"%1\": %2").arg(path, qt_error_string(errno)));
        return st;
    };
    // Most cached answers are small: one read takes the whole file, and it goes out from
    // memory.
    const QByteArray head = readHead(fd, path);
    const bool whole = head.size() < kHeadRead;
    const qint64 size = whole ? head.size() : qint64(fileStat().st_size);
    const qsizetype start = head.startsWith(kBom) ? kBom.size() : 0;
    const bool text = format.isText();
    if (!holdsWholeAnswer(head, start, fd, size, !text, path)) {
        removeBroken(path, fileStat());
        return std::nullopt;
    }
    if (text) {
        // The file holds the answer text in UTF-8; on the wire it has one byte per character.
        if (whole) return Outgoing{cp1252::encode(QString::fromUtf8(QByteArrayView(head).sliced(start)))};
        Outgoing region{{}, file, start, size - start};
        AnswerSpool spool;
        QStringDecoder utf8(QStringDecoder::Utf8);
        region.forEachChunk([&](QByteArrayView c) { spool.append(cp1252::encode(utf8.decode(c))); });
        spool.append(cp1252::encode(utf8.decode(QByteArrayView())));
        return spool.take();
    }
    // The file holds the very bytes to send.
    qsizetype prefixEnd = start;
    std::optional<QByteArray> prefix;
    if (!testClient) prefix = rewrittenPrefix(head, start, dateActive, prefixEnd);
    if (!prefix) prefixEnd = start;
    if (whole) {
        QByteArray bytes = prefix.value_or(QByteArray());
        bytes.append(QByteArrayView(head).sliced(prefixEnd));
        return Outgoing{std::move(bytes)};
    }
    return Outgoing{prefix.value_or(QByteArray()), file, prefixEnd, size - prefixEnd};
}

std::optional<Outgoing> lookup(const CacheRequest& request, const QString& preparedQuery, QString& keyOut)
{
    keyOut = cacheKey(request.nameRequest, request.testClient, request.format, preparedQuery);
    if (keyOut.isEmpty() || !request.settings.EnabledCaching || !usableFolderName(request.nameRequest)) return std::nullopt;
    return cachedAnswer(cacheFilePath(request.settings, request.nameRequest, keyOut), request.format,
                        request.testClient, request.dateActive);
}

namespace {

// The function folder for a store, made when missing: the cache folder itself too
// (deleted by hand, say), so that caching goes on. Empty when it cannot be had.
QString storeFolder(const CacheRequest& request)
{
    const QString folder = functionFolder(request.settings, request.nameRequest);
    if (QFileInfo(folder).isDir()) return folder;
    if (!QFileInfo(request.settings.PathToCache).isDir()) QDir().mkpath(request.settings.PathToCache);
    QDir().mkdir(folder);
    return QFileInfo(folder).isDir() ? folder : QString();
}

}  // namespace

bool store(const CacheRequest& request, const QString& key, const WireAnswer& answer)
{
    if (!answer.cacheable || answer.failed() || (!answer.wire.file && isBlank(answer.wire.bytes))) return false;
    if (key.isEmpty() || !request.settings.EnabledCaching || request.settings.PathToCache.isEmpty() ||
        !usableFolderName(request.nameRequest))
        return false;
    const QString folder = storeFolder(request);
    if (folder.isEmpty()) return false;
    const QString path = cacheFilePath(request.settings, request.nameRequest, key);
    // A large markup answer was written into an unnamed file of this folder: it becomes
    // the cache file as it is.
    if (answer.wire.file && answer.wire.bytes.isEmpty() && answer.wire.fileOffset == 0 && answer.fileFolder == folder &&
        !request.format.isText()) {
        if (const std::optional<bool> linked = linkCacheFile(path, answer.wire.file->fd())) return *linked;
    }
    return writeCacheFileChunks(path, [&](const auto& chunk) { forEachCacheFileChunk(answer, request.format, chunk); });
}

}  // namespace veldra::cache
