// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Request statistics of the status page: connection and request counts, the 24 hourly
// counts with their histogram, the time log and the memory line. Main thread.
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>

#include "common/wallclock.h"

namespace veldra {

class OperatorUi;

class RequestStatistics {
public:
    using Clock = WallClock;
    // The resident memory of the process in bytes; 0 when it cannot be read.
    using MemoryReader = std::function<qint64()>;

    // Window first shown: hourly counts 0 and the histogram drawn.
    explicit RequestStatistics(Clock clock = {}, MemoryReader memory = {});

    // Raises the connection count.
    void countConnection();
    // Raises the request count and the count of the current local hour. The histogram is
    // redrawn once for all the requests counted before it is next read, not once each:
    // under load that is once per batch of hand-overs at most, and only when shown.
    void countRequest();
    // Rebuilds the 24 lines from the hourly counts.
    void redrawHistogram();
    void resetHourlyCounts();
    // START: counts and their last-shown values 0, the labels at 0, time-log start now.
    void serverStarted();
    // STOP: the labels return to 0; the counts stay.
    void serverStopped();
    // Rewrites each count label whose count differs from the value last shown; true
    // when a label changed.
    bool showCounts();
    // Writes PathToLogs + "timelog-" + stamp + ".log" and restarts the hourly counts.
    // Throws FileError when the file cannot be written; then the counts and the
    // time-log start stay, and the four heading lines stay on the histogram.
    void saveTimeLog(const QString& pathToLogs);
    // "Open time log": writes "TimeLog.txt" in the program folder and opens it; a
    // failure is shown to the operator and nothing is opened.
    void openTimeLog(OperatorUi& ui);
    // Rewrites the memory line.
    void showMemory();

    qint32 connectionCount() const { return m_connections; }
    qint32 requestCount() const { return m_requests; }
    qint32 hourlyCount(int hour) const { return m_hourly.at(size_t(hour)); }
    // The 24 lines (28 while a time-log save has its heading lines on top), redrawn
    // first when requests were counted since.
    const QStringList& histogram() const;
    const QString& connectionLabel() const { return m_connectionLabel; }
    const QString& requestLabel() const { return m_requestLabel; }
    const QString& memoryLine() const { return m_memoryLine; }
    const QDateTime& timeLogStart() const { return m_timeLogStart; }

    // Called after the histogram, a label or the memory line changed (the window redraws).
    void setChangedListener(std::function<void()> listener) { m_changed = std::move(listener); }
    // Called after a counted request has made the histogram out of date (the window
    // reads it when it next redraws, not at once).
    void setCountedListener(std::function<void()> listener) { m_counted = std::move(listener); }

    // "[" HH "] - " bars " >> " n " requests"
    static QString histogramLine(int hour, qint32 count, int bars);
    // The bar lengths of the scaling rule: the busiest hour gets 25.
    static std::array<int, 24> barLengths(const std::array<qint32, 24>& counts);
    // "USING MEMORY (update value each 5 sec) : " Mb " Mb  |  " Gb " Gb"
    static QString memoryText(qint64 bytes);
    // The resident set size of this process from /proc/self/statm; 0 when unreadable.
    static qint64 residentSetSize();

private:
    QDateTime now() const;
    void changed();
    void buildHistogram() const;

    Clock m_clock;
    MemoryReader m_memory;
    qint32 m_connections = 0;
    qint32 m_requests = 0;
    qint32 m_shownConnections = 0;
    qint32 m_shownRequests = 0;
    std::array<qint32, 24> m_hourly{};
    mutable QStringList m_histogram;
    mutable bool m_histogramStale = false;
    QString m_connectionLabel = QStringLiteral("COUNT CONNECTION : 0");
    QString m_requestLabel = QStringLiteral("COUNT REQUESTS : 0");
    QString m_memoryLine;
    QDateTime m_timeLogStart;
    std::function<void()> m_changed;
    std::function<void()> m_counted;
};

}  // namespace veldra
