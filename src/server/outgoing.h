// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An answer as it goes out: bytes in memory, then perhaps a region of a file, sent by
// one sender (ClientConnection::send and the listener's watching thread). And the
// spool that answers are written into as they are made: memory up to a limit, a file
// beyond it, so that an answer of any size takes flat memory.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>

namespace veldra {

// An open file handle that closes itself.
class OpenFile {
public:
    explicit OpenFile(int fd) : m_fd(fd) {}
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

struct Outgoing {
    QByteArray bytes;                  // sent first
    std::shared_ptr<OpenFile> file = nullptr;  // then `fileLength` bytes of this file from `fileOffset`
    qint64 fileOffset = 0;
    qint64 fileLength = 0;

    qint64 size() const { return bytes.size() + (file ? fileLength : 0); }
    bool isEmpty() const { return size() == 0; }
    // Calls `chunk` with the whole content in order, the file's part in pieces of at
    // most 256 KiB. Throws FileError when the file cannot be read.
    void forEachChunk(const std::function<void(QByteArrayView)>& chunk) const;
};

// Writes every byte to `fd`; false (errno set) on the first failed write.
bool writeAllTo(int fd, QByteArrayView bytes);

class AnswerSpool {
public:
    // What an answer always may keep in memory before it goes on into a file.
    static constexpr qsizetype kMemoryLimit = 1024 * 1024;
    // What an answer may keep in memory while all answers being made keep less than
    // kSharedMemory beyond their first kMemoryLimit: most answers of a few megabytes
    // then go out without a file, and memory stays bounded however many are made.
    static constexpr qsizetype kLargeMemoryLimit = 8 * 1024 * 1024;
    static constexpr qint64 kSharedMemory = 64 * 1024 * 1024;

    // The file, when one is needed, is an unnamed file in `folder` (O_TMPFILE); an
    // empty folder means the system's temporary folder. Past `memoryLimit` the bytes
    // stay in memory up to `largeLimit` (none beyond `memoryLimit` when smaller) while
    // the shared room allows.
    explicit AnswerSpool(QString folder = QString(), qsizetype memoryLimit = kMemoryLimit, qsizetype largeLimit = 0);
    ~AnswerSpool();
    AnswerSpool(const AnswerSpool&) = delete;
    AnswerSpool& operator=(const AnswerSpool&) = delete;
    // What all spools hold in memory now beyond their first memoryLimit.
    static qint64 sharedMemoryInUse();
    // Appends bytes; throws FileError when the file cannot be made or written.
    void append(QByteArrayView bytes);
    // Writing in place: a writer appends to buffer() and calls settle() whenever due()
    // (every kBlock bytes or so). While the answer stays in memory the buffer is the
    // answer itself, so its bytes are never copied; once it has gone on into the file
    // the buffer is the block on its way there. Throws FileError as append() does.
    static constexpr qsizetype kBlock = 64 * 1024;
    QByteArray& buffer() { return m_memory; }
    bool due() const { return m_memory.size() >= m_nextSettle; }
    void settle();
    qint64 size() const { return m_fileSize + m_memory.size(); }
    // True once the bytes have gone on into a file.
    bool inFile() const { return bool(m_file); }
    // The folder the file was made in (valid when inFile()).
    const QString& folder() const { return m_folder; }
    // Everything appended, as one answer; the spool is empty afterwards.
    Outgoing take();

private:
    void spill();
    // Takes shared room for `total` bytes in memory; false when there is none.
    bool reserve(qsizetype total);
    void release();

    QString m_folder;
    qsizetype m_limit;
    qsizetype m_largeLimit;
    qsizetype m_reserved = 0;  // shared room held, beyond m_limit
    qsizetype m_nextSettle = kBlock;
    QByteArray m_memory;
    std::shared_ptr<OpenFile> m_file;
    qint64 m_fileSize = 0;
};

}  // namespace veldra
