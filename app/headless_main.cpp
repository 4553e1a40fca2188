// SPDX-License-Identifier: GPL-3.0-or-later
// veldra-headless: the server without a window. It reads veldra.ini from the program
// folder, STARTs as the START button does and runs until SIGINT or SIGTERM, which STOP
// it. Every event-log line goes to stdout (buffered: written at least every 100 ms and
// at exit); the status line and every operator message go to stderr.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include "common/eventlog.h"
#include "common/mainthread.h"
#include "common/operatorui.h"
#include "common/process.h"
#include "monitor/servercontrol.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    // only async-signal-safe calls here
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

void printErr(const QString& text)
{
    // message boxes break lines with a carriage return
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(u'\r', u'\n');
    std::fputs(t.toUtf8().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

class StderrOperator : public veldra::OperatorUi {
public:
    void showMessage(const QString& text) override { printErr(text); }
    void showError(const QString& text) override { printErr(text); }
    bool askYesNo(const QString& question) override
    {
        printErr(question + QStringLiteral(" (no one to answer: No)"));
        return false;
    }
    QString chooseFolder(const QString&) override { return {}; }
    void openWithItsProgram(const QString& path) override { printErr(QStringLiteral("Written: ") + path); }
};

}  // namespace

int main(int argc, char** argv)
{
    veldra::prepareServerProcess();
    QCoreApplication app(argc, argv);
    veldra::mainthread::install();

    // Log lines are buffered and written at least every 100 ms, and at exit.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    static bool unwritten = false;
    veldra::EventLog::instance().addListener([](const QString& line) {
        const QByteArray bytes = line.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fputc('\n', stdout);
        unwritten = true;
    });
    QTimer flush;
    QObject::connect(&flush, &QTimer::timeout, [] {
        if (!unwritten) return;
        std::fflush(stdout);
        unwritten = false;
    });
    flush.start(100);
    struct FlushAtExit {
        ~FlushAtExit() { std::fflush(stdout); }
    } flushAtExit;

    StderrOperator ui;
    veldra::ServerControl control(ui);
    control.scheduler().startTimer();
    control.startup();
    control.start();
    if (!control.running()) return 1;
    printErr(control.startLine());

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        std::perror("socketpair");
        control.stop();
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        notifier.setEnabled(false);
        char c;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &c, 1);
        control.stop();
        app.quit();
    });
    return app.exec();
}
