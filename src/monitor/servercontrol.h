// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The server as the operator drives it: the settings page values, both database
// connections, the access lists, the statistics, the event log's size check, the
// listening socket and the one-second scheduler, with START, STOP and the close
// check. The window and the headless server both sit on top of this. Main thread.
#include <QString>
#include <functional>
#include <memory>

#include "access/accesslists.h"
#include "config/database.h"
#include "config/settings.h"
#include "server/httpserver.h"
#include "monitor/coresteps.h"
#include "monitor/scheduler.h"
#include "monitor/statistics.h"
#include "server/failurereporter.h"
#include "server/servercontext.h"

namespace veldra {

class OperatorUi;

// The connection parameters of a page section.
DbParams dbParams(const ConnectionFields& fields);

class ServerControl {
public:
    // `clock` is read by the statistics, the scheduler and the cache cleaning.
    explicit ServerControl(OperatorUi& ui, WallClock clock = {});
    ~ServerControl();
    ServerControl(const ServerControl&) = delete;
    ServerControl& operator=(const ServerControl&) = delete;

    // The window's first showing: hourly counts zeroed, the settings page read from the file.
    void startup();

    // The START/STOP button: START while stopped, STOP while running; nothing while busy().
    void startStop();
    // START: settings, TEST CONNECT, running settings, access lists, listening socket.
    // A refusal is shown to the operator; running() tells the outcome.
    void start();
    // STOP: closes every client connection, the listening socket and both database
    // connections, waiting for every request thread while serving hand-overs.
    void stop();
    // The window is about to close: false (with "Need first do stop server !!!") while
    // running; false without a message while busy().
    bool formCloseQuery();

    bool running() const { return m_running; }
    // True while START or STOP runs. They serve hand-overs while they wait, so a click
    // could otherwise reach the button, the close request or another console operation
    // in the middle of them; all of these are refused meanwhile.
    bool busy() const { return m_busy; }
    // "START" while stopped, "STOP" while running.
    QString caption() const;
    // "START SERVER : " start time " [" port "]", at rest "START SERVER : 00.00.0000 00:00:00".
    const QString& startLine() const { return m_startLine; }

    // The client-list reload with the page's connection values.
    void loadClientLists();
    // A reload asked from outside (SIGHUP) while running: the client lists as the
    // scheduled reload does, the query function files read again (their template check
    // logged as at START), and a "{Reload}" log line saying so. Nothing otherwise.
    void reload();
    // TEST CONNECT with the page's connection values.
    void testConnect();
    // The running settings as START took them.
    std::shared_ptr<const TServerSettings> runningSettings() const { return m_context.settings.load(); }

    SettingsPage page;
    DatabaseConnections databases;
    ClientAccessLists access;
    RequestStatistics statistics;
    Scheduler& scheduler() { return *m_scheduler; }
    // The clock text of the status page, set every tick.
    const QString& clockText() const { return m_clockText; }

    // Called after the state shown on the status page changed (caption, start line, clock).
    std::function<void()> onStateChanged;
    // START shows the status page.
    std::function<void()> showStatusPage;
    // Called with true when START or STOP begins, and with false when it is about to
    // end, while busy() still holds: the window takes no input in between, and lets what
    // the operator did meanwhile go by unused before it takes input again.
    std::function<void(bool busy)> onBusyChanged;
    // Called after the settings file was read into the page (start-up and START).
    std::function<void()> onPageLoaded;
    // The listening port while running; 0 otherwise.
    quint16 listeningPort() const { return m_http.isOpen() ? m_http.port() : 0; }

private:
    class BusyScope;

    void changed();
    void openListeningSocket();
    // One "{TemplateCheck}" log line per function of the running queries folder whose
    // placeholders stand outside quoted strings; the number of function files read.
    int logTemplateChecks();

    OperatorUi& m_ui;
    CoreRequestSteps m_steps;
    FailureReporter m_failures;
    ServerContext m_context;
    HttpServer m_http;
    std::unique_ptr<Scheduler> m_scheduler;
    WallClock m_clock;
    bool m_running = false;
    bool m_busy = false;
    QString m_startLine;
    QString m_clockText;
};

}  // namespace veldra
