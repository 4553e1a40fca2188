#pragma once
// The on-screen event log: lines owned by the main thread. The window shows them,
// the headless server prints them.
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace veldra {

class EventLog {
public:
    static EventLog& instance();

    // Main thread only.
    void append(const QString& line);
    const QStringList& lines() const { return m_lines; }
    void clear();
    // Called in the main thread after every appended line.
    void addListener(std::function<void(const QString& line)> listener);
    void removeAllListeners();

private:
    QStringList m_lines;
    std::vector<std::function<void(const QString&)>> m_listeners;
};

// Appends one line to the event log from any thread; returns once the main thread
// has appended it.
void Logger(const QString& line);

// "[" time "] " TAB message TAB "IP [" address "] " TAB "SocketHandle [" handle "]"
QString standardLogLine(const QString& message, const QString& address, qintptr handle);

}  // namespace veldra
