// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/outgoing.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "common/errors.h"

namespace veldra {

OpenFile::~OpenFile()
{
    if (m_fd >= 0) ::close(m_fd);
}

void Outgoing::forEachChunk(const std::function<void(QByteArrayView)>& chunk) const
{
    if (!bytes.isEmpty()) chunk(bytes);
    if (!file || fileLength <= 0) return;
    QByteArray buffer(qsizetype(std::min<qint64>(fileLength, 256 * 1024)), Qt::Uninitialized);
    qint64 at = fileOffset;
    qint64 left = fileLength;
    while (left > 0) {
        const ssize_t n = ::pread(file->fd(), buffer.data(), size_t(std::min<qint64>(left, buffer.size())), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            throw FileError(QStringLiteral("Cannot read answer file: %1")
                                .arg(n < 0 ? qt_error_string(errno) : QStringLiteral("it is shorter than expected")));
        chunk(QByteArrayView(buffer.constData(), n));
        at += n;
        left -= n;
    }
}

bool writeAllTo(int fd, QByteArrayView bytes)
{
    const char* p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

namespace {
std::atomic<qint64> g_sharedSpoolMemory{0};
}

AnswerSpool::AnswerSpool(QString folder, qsizetype memoryLimit, qsizetype largeLimit)
    : m_folder(std::move(folder)), m_limit(memoryLimit), m_largeLimit(std::max(memoryLimit, largeLimit))
{
}

AnswerSpool::~AnswerSpool() { release(); }

qint64 AnswerSpool::sharedMemoryInUse() { return g_sharedSpoolMemory.load(); }

bool AnswerSpool::reserve(qsizetype total)
{
    if (total > m_largeLimit) return false;
    const qsizetype want = total - m_limit;
    const qsizetype more = want - m_reserved;
    if (more <= 0) return true;
    if (g_sharedSpoolMemory.fetch_add(more) + more > kSharedMemory) {
        g_sharedSpoolMemory.fetch_sub(more);
        return false;
    }
    m_reserved = want;
    return true;
}

void AnswerSpool::release()
{
    if (m_reserved > 0) g_sharedSpoolMemory.fetch_sub(m_reserved);
    m_reserved = 0;
}

void AnswerSpool::spill()
{
    if (m_folder.isEmpty()) m_folder = QDir::tempPath();
    int fd = ::open(QFile::encodeName(m_folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && m_folder != QDir::tempPath()) {
        // a folder gone meanwhile, or a file system without unnamed files
        m_folder = QDir::tempPath();
        fd = ::open(QFile::encodeName(m_folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    }
    if (fd < 0)
        throw FileError(QStringLiteral("Cannot create a file for the answer in \"%1\": %2").arg(m_folder, qt_error_string(errno)));
    m_file = std::make_shared<OpenFile>(fd);
}

void AnswerSpool::append(QByteArrayView bytes)
{
    if (!m_file) {
        const qsizetype total = m_memory.size() + bytes.size();
        if (total <= m_limit || reserve(total)) {
            m_memory.append(bytes);
            return;
        }
        spill();
    }
    for (QByteArrayView part : {QByteArrayView(m_memory), bytes}) {
        if (part.isEmpty()) continue;
        if (!writeAllTo(m_file->fd(), part))
            throw FileError(QStringLiteral("Cannot write the answer file in \"%1\": %2").arg(m_folder, qt_error_string(errno)));
        m_fileSize += part.size();
    }
    m_memory.clear();
    m_memory.squeeze();
    release();
}

void AnswerSpool::settle()
{
    if (!m_file) {
        const qsizetype total = m_memory.size();
        if (total <= m_limit || reserve(total)) {
            m_nextSettle = total + kBlock;
            return;
        }
        spill();
    }
    if (!m_memory.isEmpty()) {
        if (!writeAllTo(m_file->fd(), m_memory))
            throw FileError(QStringLiteral("Cannot write the answer file in \"%1\": %2").arg(m_folder, qt_error_string(errno)));
        m_fileSize += m_memory.size();
    }
    release();
    // The room of a block stays for the next one; that of a large answer goes.
    if (m_memory.capacity() > 4 * kBlock) {
        m_memory = QByteArray();
        m_memory.reserve(2 * kBlock);
    } else {
        m_memory.truncate(0);
    }
    m_nextSettle = kBlock;
}

Outgoing AnswerSpool::take()
{
    Outgoing out;
    if (m_file) {
        out.file = std::move(m_file);
        out.fileLength = m_fileSize;
    } else {
        out.bytes = std::move(m_memory);
    }
    m_memory = QByteArray();
    m_file.reset();
    m_fileSize = 0;
    m_nextSettle = kBlock;
    // The answer's bytes are the sender's now; one that a client does not take goes on
    // into a file there.
    release();
    return out;
}

}  // namespace veldra
