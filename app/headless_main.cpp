// SPDX-License-Identifier: GPL-3.0-or-later
// veldra-headless: the server without a window. It reads veldra.ini from the program
// folder, STARTs as the START button does and runs until SIGINT or SIGTERM, which STOP
// it; SIGHUP reloads. Every event-log line goes to stdout, the status line and every
// operator message to stderr, each through a bounded buffer of its own, so that a
// reader who stops reading never holds the server. Under systemd it tells the service
// manager when it is ready, stopping and alive, and marks each line with its priority
// when the stream is the journal.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "common/eventlog.h"
#include "common/files.h"
#include "common/lineoutput.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "common/process.h"
#include "common/regional.h"
#include "monitor/headless.h"
#include "monitor/servercontrol.h"
#include "monitor/servicenotify.h"

using namespace veldra;

namespace {

// Lines of one stream, with their journal priority when the stream is the journal.
class Stream {
public:
    explicit Stream(int fd) : m_out(fd), m_journal(isJournalStream(fd)) {}
    void line(int priority, const QString& text)
    {
        QByteArray bytes = text.toUtf8();
        if (m_journal) bytes.prepend("<" + QByteArray::number(priority) + ">");
        m_out.write(bytes);
    }
    // A text of several lines (message boxes break lines with a carriage return).
    void text(int priority, QString t)
    {
        t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        t.replace(u'\r', u'\n');
        for (const QString& l : t.split(u'\n')) line(priority, l);
    }
    bool journal() const { return m_journal; }
    LineOutput& output() { return m_out; }

private:
    LineOutput m_out;
    bool m_journal;
};

Stream* g_err = nullptr;

class StderrOperator : public OperatorUi {
public:
    explicit StderrOperator(Stream& err) : m_err(err) {}
    void showMessage(const QString& text) override { m_err.text(3, text); }
    void showError(const QString& text) override { m_err.text(3, text); }
    bool askYesNo(const QString& question) override
    {
        m_err.text(4, question + QStringLiteral(" (no one to answer: No)"));
        return false;
    }
    QString chooseFolder(const QString&) override { return {}; }
    void openWithItsProgram(const QString& path) override { m_err.text(6, QStringLiteral("Written: ") + path); }

private:
    Stream& m_err;
};

void qtMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (g_err) g_err->text(type == QtDebugMsg || type == QtInfoMsg ? 6 : type == QtWarningMsg ? 4 : 3, text);
}

int check()
{
    const CheckReport report = checkProgramFolder();
    for (const QString& p : report.problems) std::printf("%s\n", p.toUtf8().constData());
    for (const QString& w : report.warnings) std::printf("warning: %s\n", w.toUtf8().constData());
    return report.problems.isEmpty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    prepareServerProcess();
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const HeadlessOptions options = parseHeadlessOptions(args);
    switch (options.action) {
    case HeadlessOptions::Action::Help: std::fputs(headlessUsage().toUtf8().constData(), stdout); return 0;
    case HeadlessOptions::Action::Version: std::printf("%s\n", headlessVersion().toUtf8().constData()); return 0;
    case HeadlessOptions::Action::UsageError:
        std::fprintf(stderr, "veldra-headless: %s\n%s", options.error.toUtf8().constData(),
                     headlessUsage().toUtf8().constData());
        return 2;
    case HeadlessOptions::Action::Run:
    case HeadlessOptions::Action::Check: break;
    }
    if (!options.folder.isEmpty()) {
        const QFileInfo folder(options.folder);
        if (!folder.isDir()) {
            std::fprintf(stderr, "veldra-headless: no folder %s\n", options.folder.toUtf8().constData());
            return 1;
        }
        setProgramFolder(folder.absoluteFilePath());
    }

    QCoreApplication app(argc, argv);
    mainthread::install();
    if (options.action == HeadlessOptions::Action::Check) return check();

    Stream out(STDOUT_FILENO);
    Stream err(STDERR_FILENO);
    g_err = &err;
    qInstallMessageHandler(qtMessage);
    const bool journal = out.journal();
    out.output().setDroppedNotice([journal](quint64 count) {
        QByteArray line = (u'[' + regional::timeStamp() + QStringLiteral("] \t{Output} ") + QString::number(count) +
                           QStringLiteral(" log lines were dropped: standard output did not take them "))
                              .toUtf8();
        if (journal) line.prepend("<4>");
        return line;
    });
    EventLog::instance().addListener([&out](const QString& line) { out.line(journalPriority(line), line); });

    StderrOperator ui(err);
    ServerControl control(ui);
    bool stopping = false;
    // Signals that come during START wait in the socket pair until the loop runs.
    SignalEvents signalEvents({SIGINT, SIGTERM, SIGHUP}, [&](int signal) {
        if (stopping) return;
        if (signal == SIGHUP) {
            if (!control.running() || control.busy()) return;  // not while START or STOP runs
            service::notify("RELOADING=1");
            control.reload();
            service::notify("READY=1");
            return;
        }
        stopping = true;
        service::notify("STOPPING=1");
        control.stop();
        app.quit();
    });
    if (!signalEvents.ok()) {
        err.line(3, QStringLiteral("veldra-headless: no socket pair for the signals"));
        return 1;
    }

    control.scheduler().startTimer();
    control.startup();
    control.start();
    int code = 1;
    if (control.running()) {
        err.line(6, control.startLine());
        service::notify("READY=1\nSTATUS=" + control.startLine().toUtf8());
        // The watchdog is fed from the main thread: a main thread that hangs stops it.
        QTimer watchdog;
        if (const quint64 usec = service::watchdogIntervalUsec(); usec > 0) {
            QObject::connect(&watchdog, &QTimer::timeout, [] { service::notify("WATCHDOG=1"); });
            watchdog.start(int(qMax<quint64>(1, usec / 2000)));
        }
        code = app.exec();
    }
    EventLog::instance().removeAllListeners();
    qInstallMessageHandler(nullptr);
    g_err = nullptr;
    // Bounded (under a second for both): SIGTERM ends the program in time whatever the
    // readers do; a reader that reads has everything by then.
    QElapsedTimer ending;
    ending.start();
    out.output().finish(700);
    err.output().finish(int(qMax<qint64>(100, 800 - ending.elapsed())));
    return code;
}
