// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The on-screen event log: lines owned by the main thread. The window shows them,
// the headless server prints them.
//
// While the server runs (between startSizeCheck and stopSizeCheck), every change is
// followed by the size check: when the log holds more lines than the limit, or its lines
// hold the byte budget or more in memory, all lines are saved to PathToLogs +
// "mainlog-" + file stamp + ".log" and the log is emptied.
// A save that fails throws to whoever made the change (the Logger caller), and the
// lines stay; the next change tries again.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "common/wallclock.h"

namespace veldra {

class OperatorUi;

// The longest line the event log takes, in UTF-8 bytes (the encoding of its files).
constexpr qsizetype kMaxLogLineBytes = 64 * 1024;

// What the event log may hold in memory before it is saved, whatever the line count.
constexpr qsizetype kLogByteBudget = 32 * 1024 * 1024;

// The memory one line of the log takes: its characters as allocated (UTF-16), the
// allocation's header and the list's own entry.
qsizetype logLineMemory(const QString& line);

// The line itself when it is not longer than kMaxLogLineBytes; otherwise cut there, with
// " [... cut: the line had N characters]" at the end, all within the limit.
QString logLineWithinLimit(const QString& line);

class EventLog {
public:
    static EventLog& instance();

    // Main thread only. A line beyond kMaxLogLineBytes is cut (logLineWithinLimit).
    void append(const QString& line);
    const QStringList& lines() const { return m_lines; }
    // What the lines hold in memory (logLineMemory of each).
    qsizetype bytesHeld() const { return m_bytes; }
    void clear();
    // Called in the main thread after every appended line.
    void addListener(std::function<void(const QString& line)> listener);
    // Called in the main thread whenever the log was emptied (by a save or clear()).
    void addClearedListener(std::function<void()> listener);
    void removeAllListeners();

    // START: the running SaveLogEachLines and PathToLogs (ending with "/"), and the clock
    // that names the saved files. STOP ends the check; lines then accumulate without limit.
    void startSizeCheck(qint32 saveLogEachLines, const QString& pathToLogs, WallClock clock = {});
    void stopSizeCheck();
    // The byte budget of the size check (kLogByteBudget unless a test sets another).
    void setByteBudget(qsizetype bytes) { m_budget = bytes; }
    // The operator edited the box: its whole text, as lines (each within the limit),
    // replaces the log, and the size check follows.
    void replaceLines(const QStringList& lines);
    // The size check itself; throws FileError when the saved file cannot be written.
    void checkSize();
    // Writes every line to `path` (UTF-8 with a byte-order mark, CR LF after each line).
    void saveTo(const QString& path) const;

    // Where a failed save goes when the line that caused it came from another thread,
    // which did not wait for it (the operator's failure messages).
    void setHandOverFailureHandler(std::function<void(const QString&)> handler);
    void handOverFailed(const QString& message) const;

private:
    QDateTime now() const;

    void take(QString line);

    QStringList m_lines;
    qsizetype m_bytes = 0;
    qsizetype m_budget = kLogByteBudget;
    std::vector<std::function<void(const QString&)>> m_listeners;
    std::vector<std::function<void()>> m_clearedListeners;
    bool m_checking = false;
    qint32 m_limit = 0;
    QString m_pathToLogs;
    WallClock m_clock;
    std::function<void(const QString&)> m_handOverFailure;
};

// Appends one line to the event log from any thread. In the main thread it appends at
// once and a failed save of the log reaches the caller. From another thread it hands
// the line over without waiting: the lines of one thread keep their order, and a failed
// save goes to the hand-over failure handler.
void Logger(const QString& line);

// "[" time "] " TAB message TAB "IP [" address "] " TAB "SocketHandle [" handle "]"
QString standardLogLine(const QString& message, const QString& address, qintptr handle);

// The main-log button: saves the log to "MainLog.txt" in the program folder and opens
// it; a failure is shown to the operator and nothing is opened. Main thread.
void openMainLog(const EventLog& log, OperatorUi& ui);

}  // namespace veldra
