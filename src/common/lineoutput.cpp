// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/lineoutput.h"

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace veldra {

struct LineOutput::State {
    int fd = -1;
    qsizetype capacity = 0;
    std::mutex mutex;
    std::condition_variable wake;     // the writer: lines queued, or stop
    std::condition_variable drained;  // finish(): the buffer is written
    QByteArray pending;
    bool writing = false;
    bool stop = false;
    bool broken = false;  // the descriptor takes nothing any more (closed reader)
    quint64 droppedSinceNotice = 0;
    quint64 droppedTotal = 0;
    std::function<QByteArray(quint64)> notice;

    // Under the lock: appends `bytes` when they fit.
    bool append(const QByteArray& bytes)
    {
        if (pending.size() + bytes.size() > capacity) return false;
        const bool wasEmpty = pending.isEmpty();
        pending += bytes;
        if (wasEmpty && !writing) wake.notify_one();
        return true;
    }

    // Under the lock: the notice of the lines dropped since the last one, when it fits.
    void appendNotice()
    {
        if (droppedSinceNotice == 0) return;
        if (!notice) {
            droppedSinceNotice = 0;
            return;
        }
        if (append(notice(droppedSinceNotice) + '\n')) droppedSinceNotice = 0;
    }

    void run()
    {
        // A reader that went away gives EPIPE here, never a signal that ends the process.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stop || !pending.isEmpty(); });
            if (pending.isEmpty()) break;  // stop, and nothing left
            QByteArray chunk;
            chunk.swap(pending);
            writing = true;
            lock.unlock();
            writeAll(chunk);
            lock.lock();
            writing = false;
            if (pending.isEmpty()) drained.notify_all();
        }
        drained.notify_all();
    }

    void writeAll(const QByteArray& bytes)
    {
        const char* p = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0 && !broken) {
            const ssize_t n = ::write(fd, p, size_t(left));
            if (n < 0) {
                if (errno == EINTR) continue;
                broken = true;  // EPIPE, EBADF, a full disk: nothing more can go there
                break;
            }
            p += n;
            left -= n;
        }
    }
};

LineOutput::LineOutput(int fd, qsizetype capacity) : m_state(std::make_shared<State>())
{
    m_state->fd = fd;
    m_state->capacity = capacity;
    std::thread([state = m_state] { state->run(); }).detach();
}

LineOutput::~LineOutput()
{
    if (!m_finished) finish(1000);
}

void LineOutput::setDroppedNotice(std::function<QByteArray(quint64)> notice)
{
    std::lock_guard lock(m_state->mutex);
    m_state->notice = std::move(notice);
}

void LineOutput::write(const QByteArray& line)
{
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    if (!s.stop) {
        // after drops, the notice and the line go in together or not at all
        QByteArray bytes;
        if (s.droppedSinceNotice > 0 && s.notice) bytes = s.notice(s.droppedSinceNotice) + '\n';
        bytes += line;
        bytes += '\n';
        if (s.append(bytes)) {
            s.droppedSinceNotice = 0;
            return;
        }
    }
    ++s.droppedSinceNotice;
    ++s.droppedTotal;
}

bool LineOutput::finish(int ms)
{
    m_finished = true;
    State& s = *m_state;
    std::unique_lock lock(s.mutex);
    if (!s.stop) s.appendNotice();
    s.stop = true;
    s.wake.notify_one();
    // The writer is detached: when it stays blocked in the descriptor, the process ends
    // around it and the state it shares stays alive until then.
    return s.drained.wait_for(lock, std::chrono::milliseconds(ms), [&] { return s.pending.isEmpty() && !s.writing; });
}

quint64 LineOutput::dropped() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->droppedTotal;
}

bool isJournalStream(int fd)
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    if (colon <= 0) return false;
    bool okDev = false, okIno = false;
    const qulonglong dev = stream.left(colon).toULongLong(&okDev);
    const qulonglong ino = stream.mid(colon + 1).toULongLong(&okIno);
    struct stat st {};
    if (!okDev || !okIno || ::fstat(fd, &st) != 0) return false;
    return qulonglong(st.st_dev) == dev && qulonglong(st.st_ino) == ino;
}

}  // namespace veldra
