// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/statistics.h"

#include <QFile>
#include <unistd.h>

#include "common/errors.h"
#include "common/files.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "common/regional.h"

namespace veldra {

RequestStatistics::RequestStatistics(Clock clock, MemoryReader memory)
    : m_clock(std::move(clock)), m_memory(std::move(memory))
{
    m_timeLogStart = now();
    redrawHistogram();
}

QDateTime RequestStatistics::now() const { return m_clock.now(); }

void RequestStatistics::changed()
{
    if (m_changed) m_changed();
}

void RequestStatistics::countConnection()
{
    VELDRA_ASSERT_MAIN_THREAD();
    ++m_connections;
}

void RequestStatistics::countRequest()
{
    VELDRA_ASSERT_MAIN_THREAD();
    ++m_requests;
    ++m_hourly[size_t(now().time().hour())];
    const bool wasStale = m_histogramStale;
    m_histogramStale = true;
    if (!wasStale && m_counted) m_counted();
}

const QStringList& RequestStatistics::histogram() const
{
    if (m_histogramStale) buildHistogram();
    return m_histogram;
}

QString RequestStatistics::histogramLine(int hour, qint32 count, int bars)
{
    return QStringLiteral("[%1] - ").arg(hour, 2, 10, QLatin1Char('0')) + QString(bars, u'|') +
           QStringLiteral(" >> %1 requests").arg(count);
}

std::array<int, 24> RequestStatistics::barLengths(const std::array<qint32, 24>& counts)
{
    qint32 max = 0;
    for (qint32 c : counts) max = std::max(max, c);
    const double scale = double(max) / 25;
    std::array<int, 24> bars{};
    if (max == 0) return bars;
    for (size_t h = 0; h < 24; ++h) bars[h] = counts[h] > 0 ? int(double(counts[h]) / scale) : 0;
    return bars;
}

void RequestStatistics::buildHistogram() const
{
    const auto bars = barLengths(m_hourly);
    m_histogram.clear();
    for (int h = 0; h < 24; ++h) m_histogram << histogramLine(h, m_hourly[size_t(h)], bars[size_t(h)]);
    m_histogramStale = false;
}

void RequestStatistics::redrawHistogram()
{
    buildHistogram();
    changed();
}

void RequestStatistics::resetHourlyCounts() { m_hourly.fill(0); }

void RequestStatistics::serverStarted()
{
    m_connections = m_requests = m_shownConnections = m_shownRequests = 0;
    m_connectionLabel = QStringLiteral("COUNT CONNECTION : 0");
    m_requestLabel = QStringLiteral("COUNT REQUESTS : 0");
    m_timeLogStart = now();
    changed();
}

void RequestStatistics::serverStopped()
{
    m_connectionLabel = QStringLiteral("COUNT CONNECTION : 0");
    m_requestLabel = QStringLiteral("COUNT REQUESTS : 0");
    changed();
}

bool RequestStatistics::showCounts()
{
    bool any = false;
    if (m_connections != m_shownConnections) {
        m_shownConnections = m_connections;
        m_connectionLabel = QStringLiteral("COUNT CONNECTION : %1").arg(m_connections);
        any = true;
    }
    if (m_requests != m_shownRequests) {
        m_shownRequests = m_requests;
        m_requestLabel = QStringLiteral("COUNT REQUESTS : %1").arg(m_requests);
        any = true;
    }
    if (any) changed();
    return any;
}

void RequestStatistics::saveTimeLog(const QString& pathToLogs)
{
    const QDateTime at = now();
    if (m_histogramStale) buildHistogram();
    m_histogram.insert(0, QString());
    m_histogram.insert(0, QStringLiteral("------------------------------"));
    m_histogram.insert(0, QStringLiteral("Date time saved : ") + regional::timeStamp(at));
    m_histogram.insert(0, QStringLiteral("Started time saved : ") + regional::timeStamp(m_timeLogStart));
    changed();
    writeTextFile(pathToLogs + QStringLiteral("timelog-") + regional::fileStamp(at) + QStringLiteral(".log"), m_histogram,
                  FileAccess::OwnerOnly);
    m_timeLogStart = at;
    resetHourlyCounts();
    redrawHistogram();
}

void RequestStatistics::openTimeLog(OperatorUi& ui) { saveAndOpen(programFile(QStringLiteral("TimeLog.txt")), histogram(), ui); }

QString RequestStatistics::memoryText(qint64 bytes)
{
    const qint64 mb = bytes / 1048576;
    const double gb = double(bytes) / 1024 / 1024 / 1024;
    QString gbText = QString::number(gb, 'f', 4);
    gbText.replace(u'.', regional::kDecimalSeparator);
    return QStringLiteral("USING MEMORY (update value each 5 sec) : %1 Mb  |  ").arg(mb) + gbText + QStringLiteral(" Gb");
}

qint64 RequestStatistics::residentSetSize()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().simplified().split(' ');
    if (fields.size() < 2) return 0;
    bool ok = false;
    const qint64 pages = fields[1].toLongLong(&ok);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (!ok || pageSize <= 0) return 0;
    return pages * pageSize;
}

void RequestStatistics::showMemory()
{
    m_memoryLine = memoryText(m_memory ? m_memory() : residentSetSize());
    changed();
}

}  // namespace veldra
