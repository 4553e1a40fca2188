#include "monitor/eventlog.h"

#include "common/mainthread.h"
#include "common/regional.h"

namespace veldra {

EventLog& EventLog::instance()
{
    static EventLog log;
    return log;
}

void EventLog::append(const QString& line)
{
    m_lines << line;
    for (const auto& l : m_listeners) l(line);
}

void EventLog::clear() { m_lines.clear(); }

void EventLog::addListener(std::function<void(const QString&)> listener) { m_listeners.push_back(std::move(listener)); }

void EventLog::removeAllListeners() { m_listeners.clear(); }

void Logger(const QString& line)
{
    mainthread::runSync([&line] { EventLog::instance().append(line); });
}

QString standardLogLine(const QString& message, const QString& address, qintptr handle)
{
    return u'[' + regional::timeStamp() + QStringLiteral("] \t") + message + QStringLiteral("\tIP [") + address +
           QStringLiteral("] \tSocketHandle [") + QString::number(handle) + u']';
}

}  // namespace veldra
