// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/process.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <QtGlobal>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veldra {

void prepareServerProcess()
{
    // A fixed threshold also keeps the C library from raising it after every freed
    // large block, which would put the next large answer back on the shared heap.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    if (!qEnvironmentVariableIsSet("TZ")) qputenv("TZ", QByteArrayLiteral(":/etc/localtime"));
}

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int signal)
{
    const unsigned char c = static_cast<unsigned char>(signal);
    // only async-signal-safe calls here; a full pipe drops the signal, which is pending anyway
    const int saved = errno;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

}  // namespace

SignalEvents::SignalEvents(std::initializer_list<int> signalNumbers, std::function<void(int)> handler)
    : m_handler(std::move(handler)), m_signals(signalNumbers)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    ::fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);  // the handler never waits
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : signalNumbers) sigaction(s, &sa, nullptr);

    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        unsigned char buf[64];
        const ssize_t n = ::read(g_signalPipe[0], buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) m_handler(buf[i]);
    });
}

SignalEvents::~SignalEvents()
{
    for (int s : m_signals) std::signal(s, SIG_DFL);
    m_notifier.reset();
    for (int& fd : g_signalPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

}  // namespace veldra
