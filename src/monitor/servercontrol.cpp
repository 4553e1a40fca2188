// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/servercontrol.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>

#include "cache/cachemaintenance.h"
#include "common/errors.h"
#include "common/eventlog.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "common/regional.h"
#include "queries/templatecheck.h"
#include "server/connection.h"

namespace veldra {
namespace {

const QString kStars = QStringLiteral("******************************");
const QString kStartLineAtRest = QStringLiteral("START SERVER : 00.00.0000 00:00:00");

}  // namespace

// START or STOP in progress, from construction to destruction.
class ServerControl::BusyScope {
public:
    explicit BusyScope(ServerControl& control) : m_control(control)
    {
        m_control.m_busy = true;
        if (m_control.onBusyChanged) m_control.onBusyChanged(true);
    }
    ~BusyScope()
    {
        if (m_control.onBusyChanged) m_control.onBusyChanged(false);
        m_control.m_busy = false;
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    ServerControl& m_control;
};

DbParams dbParams(const ConnectionFields& f) { return DbParams{f.ip, f.port, f.database, f.user, f.psw}; }

ServerControl::ServerControl(OperatorUi& ui, WallClock clock)
    : page(defaultSettingsPage()),
      statistics(clock),
      m_ui(ui),
      m_steps(access, databases, statistics),
      m_failures(ui),
      m_context(m_steps, m_failures),
      m_http(m_context, [this] { statistics.countConnection(); }),
      m_clock(clock),
      m_startLine(kStartLineAtRest)
{
    SchedulerTasks tasks;
    tasks.serverRunning = [this] { return m_running; };
    tasks.runningSettings = [this] { return *m_context.settings.load(); };
    tasks.showMemory = [this] { statistics.showMemory(); };
    tasks.showClock = [this](const QString& text) {
        m_clockText = text;
        changed();
    };
    tasks.showCounts = [this] { statistics.showCounts(); };
    tasks.loadClientLists = [this] { loadClientLists(); };
    tasks.saveTimeLog = [this] { statistics.saveTimeLog(m_context.settings.load()->PathToLogs); };
    tasks.cleanCache = [this] {
        const auto running = m_context.settings.load();
        CleaningInputs in;
        in.pageQueriesFolder = page.pathToQueries;
        in.pageCacheFolder = page.pathToCache;
        in.pathToQueries = running->PathToQueries;
        in.pathToCache = running->PathToCache;
        in.policies.cleanOlderFiles = page.cachingCleanOlderFiles;
        in.policies.countDaysForClean = page.cachingCountDaysForClean;
        in.policies.cleanQuantityIsMore = page.cachingCleanQuantityIsMore;
        in.policies.quantityForClean = page.cachingQuantityForClean;
        in.policies.cleanIfSumFilesIsMore = page.cachingCleanIfSumFilesIsMore;
        in.policies.sizeForClean = page.cachingSizeForClean;
        CleanCacheByPolicies(in, m_clock);
    };
    m_scheduler = std::make_unique<Scheduler>(std::move(tasks), ui, clock);
    EventLog::instance().setHandOverFailureHandler([this](const QString& message) { m_failures.report(message); });
}

ServerControl::~ServerControl()
{
    if (m_running) stop();
    EventLog::instance().setHandOverFailureHandler({});
}

void ServerControl::changed()
{
    if (onStateChanged) onStateChanged();
}

void ServerControl::startup()
{
    statistics.resetHourlyCounts();
    statistics.redrawHistogram();
    // a failure is not shown at this point; START reports it
    LoadSettings(page, settingsFilePath());
    if (onPageLoaded) onPageLoaded();
    changed();
}

QString ServerControl::caption() const { return m_running ? QStringLiteral("STOP") : QStringLiteral("START"); }

void ServerControl::startStop()
{
    VELDRA_ASSERT_MAIN_THREAD();
    if (m_busy) return;
    if (m_running)
        stop();
    else
        start();
}

void ServerControl::loadClientLists()
{
    VELDRA_ASSERT_MAIN_THREAD();
    access.LoadListClientsAccess(databases, dbParams(page.clientTable), dbParams(page.workData));
}

void ServerControl::testConnect() { databases.TestConnect(dbParams(page.clientTable), dbParams(page.workData)); }

void ServerControl::openListeningSocket()
{
    const qint32 port = m_context.settings.load()->WorkedPort;
    if (port < 1 || port > 65535)
        throw SocketError(QStringLiteral("Port %1 is outside the range 1 to 65535").arg(port));
    m_http.open(quint16(port));
}

void ServerControl::start()
{
    VELDRA_ASSERT_MAIN_THREAD();
    if (m_running || m_busy) return;
    const BusyScope busy(*this);

    const QString settingsFailure = LoadSettings(page, settingsFilePath());
    if (onPageLoaded) onPageLoaded();
    changed();
    if (!settingsFailure.isEmpty()) {
        m_ui.showMessage(QStringLiteral("Need Fix settings server\r") + kStars + u'\r' + settingsFailure);
        return;
    }

    testConnect();
    if (!databases.errorArea().isEmpty()) {
        m_ui.showMessage(QStringLiteral("Need Fix settings Mysql server(s)\r") + kStars + u'\r' +
                         databases.errorAreaText());
        return;
    }

    // the running settings: written only here, before the socket opens
    m_context.settings.store(ApplyRunningSettings(page));

    access.resetCounts();
    loadClientLists();

    try {
        openListeningSocket();
        statistics.serverStarted();
        if (showStatusPage) showStatusPage();
        const auto running = m_context.settings.load();
        m_startLine = QStringLiteral("START SERVER : ") + regional::timeStamp() + QStringLiteral(" [") +
                      QString::number(running->WorkedPort) + u']';
        EventLog::instance().startSizeCheck(running->SaveLogEachLines, running->PathToLogs, m_clock);
        m_running = true;
        changed();
    } catch (const std::exception& e) {
        m_http.close();
        m_ui.showMessage(QStringLiteral("Error(s) in during run server \r ") + errorDetails(e));
    }
    if (m_running) {
        try {
            logTemplateChecks();
        } catch (...) {
            m_ui.showMessage(currentErrorDetails());
        }
    }
}

int ServerControl::logTemplateChecks()
{
    int read = 0;
    for (const FunctionTemplateCheck& check : checkFunctionTemplates(m_context.settings.load()->PathToQueries, &read))
        Logger(templateCheckLogLine(check));
    return read;
}

void ServerControl::reload()
{
    VELDRA_ASSERT_MAIN_THREAD();
    if (!m_running || m_busy) return;
    try {
        loadClientLists();
        const int read = logTemplateChecks();
        Logger(u'[' + regional::timeStamp() + QStringLiteral("] \t{Reload} Reloaded the client access lists (") +
               access.whiteCountText() + QStringLiteral(", ") + access.blackCountText() + QStringLiteral(") and read ") +
               QString::number(read) + QStringLiteral(" query function files again "));
    } catch (...) {
        m_ui.showMessage(QStringLiteral("Reload \r ") + currentErrorDetails());
    }
}

void ServerControl::stop()
{
    VELDRA_ASSERT_MAIN_THREAD();
    if (!m_running || m_busy) return;
    const BusyScope busy(*this);
    m_running = false;
    EventLog::instance().stopSizeCheck();
    changed();
    mainthread::servePending();

    try {
        for (const auto& c : m_http.openConnections()) {
            Logger(u'[' + regional::timeStamp() + QStringLiteral("] \t{SocketClosing} Client clossing \tIP [") +
                   c.address + QStringLiteral("] \tSocketHandle [") + QString::number(c.handle) +
                   QStringLiteral("] "));
            c.abort();
            mainthread::servePending();
        }
    } catch (...) {
        // STOP always ends stopped
    }
    // Queries in flight fail now instead of holding STOP for as long as the database takes.
    m_http.cancelDatabaseWork();

    // a second for the closed connections' threads to finish, still serving their hand-overs
    QElapsedTimer second;
    second.start();
    mainthread::serveUntil([&] { return second.elapsed() >= 1000; });
    m_http.close();
    mainthread::servePending();
    databases.CloseConnections();
    statistics.serverStopped();
    m_startLine = kStartLineAtRest;
    changed();
}

bool ServerControl::formCloseQuery()
{
    VELDRA_ASSERT_MAIN_THREAD();
    if (m_busy) return false;
    if (m_running) {
        m_ui.showMessage(QStringLiteral("Need first do stop server !!!"));
        return false;
    }
    return true;
}

}  // namespace veldra
