// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/eventlog.h"

#include "common/errors.h"
#include "common/files.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "common/regional.h"

#include <iterator>
#include <mutex>
#include <vector>

namespace veldra {

EventLog& EventLog::instance()
{
    static EventLog log;
    return log;
}

namespace {

// UTF-8 bytes of one UTF-16 code unit (a surrogate pair makes four: two each).
int utf8Bytes(char16_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : QChar::isSurrogate(c) ? 2 : 3; }

}  // namespace

QString logLineWithinLimit(const QString& line)
{
    if (line.size() * 3 <= kMaxLogLineBytes) return line;  // cheap check: no line of this length is too long
    qsizetype bytes = 0;
    for (QChar c : line) bytes += utf8Bytes(c.unicode());
    if (bytes <= kMaxLogLineBytes) return line;

    const QString mark = QStringLiteral(" [... cut: the line had %1 characters]").arg(line.size());
    const qsizetype room = kMaxLogLineBytes - mark.size();  // the mark is ASCII
    qsizetype keep = 0;
    bytes = 0;
    while (keep < line.size() && bytes + utf8Bytes(line.at(keep).unicode()) <= room)
        bytes += utf8Bytes(line.at(keep++).unicode());
    if (keep > 0 && line.at(keep - 1).isHighSurrogate()) --keep;  // never half a character
    return line.left(keep) + mark;
}

qsizetype logLineMemory(const QString& line)
{
    // QString in the list, QArrayData header, the characters and their terminating zero.
    return qsizetype(sizeof(QString)) + qsizetype(sizeof(QArrayData)) + (line.capacity() + 1) * 2;
}

void EventLog::take(QString line)
{
    // A line cut from a larger text may keep that text's allocation: hold only the line.
    if (line.capacity() > line.size() + 64) line.squeeze();
    m_bytes += logLineMemory(line);
    m_lines << std::move(line);
}

void EventLog::append(const QString& text)
{
    VELDRA_ASSERT_MAIN_THREAD();
    take(logLineWithinLimit(text));
    const QString line = m_lines.constLast();
    for (const auto& l : m_listeners) l(line);
    checkSize();
}

void EventLog::clear()
{
    VELDRA_ASSERT_MAIN_THREAD();
    m_lines.clear();
    m_bytes = 0;
    for (const auto& l : m_clearedListeners) l();
}

void EventLog::addListener(std::function<void(const QString&)> listener) { m_listeners.push_back(std::move(listener)); }

void EventLog::addClearedListener(std::function<void()> listener) { m_clearedListeners.push_back(std::move(listener)); }

void EventLog::removeAllListeners()
{
    m_listeners.clear();
    m_clearedListeners.clear();
}

void EventLog::startSizeCheck(qint32 saveLogEachLines, const QString& pathToLogs, WallClock clock)
{
    m_clock = std::move(clock);
    m_checking = true;
    m_limit = saveLogEachLines;
    m_pathToLogs = pathToLogs;
}

void EventLog::stopSizeCheck() { m_checking = false; }

void EventLog::replaceLines(const QStringList& lines)
{
    VELDRA_ASSERT_MAIN_THREAD();
    m_lines.clear();
    m_bytes = 0;
    m_lines.reserve(lines.size());
    for (const QString& line : lines) take(logLineWithinLimit(line));
    checkSize();
}

void EventLog::checkSize()
{
    if (!m_checking || (m_lines.size() <= m_limit && m_bytes < m_budget)) return;
    saveTo(m_pathToLogs + QStringLiteral("mainlog-") + regional::fileStamp(now()) + QStringLiteral(".log"));
    clear();
}

// The lines hold clients' secure codes: owner-only.
void EventLog::saveTo(const QString& path) const { writeTextFile(path, m_lines, FileAccess::OwnerOnly); }

QDateTime EventLog::now() const { return m_clock.now(); }

void EventLog::setHandOverFailureHandler(std::function<void(const QString&)> handler)
{
    m_handOverFailure = std::move(handler);
}

void EventLog::handOverFailed(const QString& message) const
{
    if (m_handOverFailure) m_handOverFailure(message);
}

namespace {

// Lines from other threads wait here, in the order they came; one hand-over appends
// those waiting, at most kLinesPerHandOver of them before it hands the rest over again,
// so that a long queue still leaves the main thread its other events between batches.
class HandedOverLines {
public:
    static constexpr size_t kLinesPerHandOver = 4096;

    void add(const QString& line)
    {
        bool first;
        {
            std::lock_guard lock(m_mutex);
            first = m_lines.empty();
            m_lines.push_back(line);
        }
        if (first) mainthread::post([this] { appendWaiting(); });
    }

private:
    void appendWaiting()
    {
        std::vector<QString> lines;
        {
            std::lock_guard lock(m_mutex);
            if (m_lines.size() <= kLinesPerHandOver) {
                lines.swap(m_lines);
            } else {
                lines.assign(std::make_move_iterator(m_lines.begin()),
                             std::make_move_iterator(m_lines.begin() + kLinesPerHandOver));
                m_lines.erase(m_lines.begin(), m_lines.begin() + kLinesPerHandOver);
                mainthread::post([this] { appendWaiting(); });
            }
        }
        for (const QString& line : lines) {
            try {
                EventLog::instance().append(line);
            } catch (...) {
                EventLog::instance().handOverFailed(currentErrorMessage());
            }
        }
    }

    std::mutex m_mutex;
    std::vector<QString> m_lines;
};

HandedOverLines& handedOverLines()
{
    static HandedOverLines lines;
    return lines;
}

}  // namespace

void Logger(const QString& line)
{
    if (mainthread::isMainThread()) {
        EventLog::instance().append(line);
        return;
    }
    handedOverLines().add(line);
}

QString standardLogLine(const QString& message, const QString& address, qintptr handle)
{
    return u'[' + regional::timeStamp() + QStringLiteral("] \t") + message + QStringLiteral("\tIP [") + address +
           QStringLiteral("] \tSocketHandle [") + QString::number(handle) + u']';
}

void openMainLog(const EventLog& log, OperatorUi& ui)
{
    saveAndOpen(programFile(QStringLiteral("MainLog.txt")), log.lines(), ui);
}

}  // namespace veldra
