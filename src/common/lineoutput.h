// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Lines for standard output or standard error that never make their writer wait.
//
// write() puts a line into a bounded buffer and returns; a thread of its own writes the
// buffer to the descriptor, as fast as the reader takes it. When the reader stops
// reading, the buffer fills and further lines are dropped and counted; the first line
// that fits again is preceded by one notice line with the count. At the end, finish()
// waits a bounded time for what is left, so a reader that never reads cannot hold the
// program either.
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace veldra {

class LineOutput {
public:
    static constexpr qsizetype kDefaultCapacity = 1 << 20;

    explicit LineOutput(int fd, qsizetype capacity = kDefaultCapacity);
    ~LineOutput();  // finish(1000) unless finished
    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;

    // The notice line for `count` dropped lines (without its line feed).
    void setDroppedNotice(std::function<QByteArray(quint64 count)> notice);

    // Queues the line and a line feed. Any thread; never waits for the descriptor.
    void write(const QByteArray& line);
    // Waits up to `ms` for everything queued to be written, then stops the writer; true
    // when everything was written. A writer still blocked in the descriptor is left to
    // end with the process. Later lines are dropped.
    bool finish(int ms);

    // Lines dropped so far, all told.
    quint64 dropped() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
    bool m_finished = false;
};

// True when `fd` is the stream that $JOURNAL_STREAM names ("device:inode" in decimal):
// the service manager connected it to the journal.
bool isJournalStream(int fd);

}  // namespace veldra
