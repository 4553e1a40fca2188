// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/servicenotify.h"

#ifdef VELDRA_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace veldra::service {

#ifdef VELDRA_HAVE_SYSTEMD

bool notificationsBuiltIn() { return true; }

void notify(const QByteArray& state) { sd_notify(0, state.constData()); }

quint64 watchdogIntervalUsec()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? quint64(usec) : 0;
}

#else

bool notificationsBuiltIn() { return false; }
void notify(const QByteArray&) {}
quint64 watchdogIntervalUsec() { return 0; }

#endif

}  // namespace veldra::service
