// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the service manager hears from veldra-headless (Type=notify): READY=1 once it
// listens, STOPPING=1 when it stops, WATCHDOG=1 from the main thread while that thread
// is alive. Through sd_notify of libsystemd when the build found it; without it, or
// without $NOTIFY_SOCKET, nothing is sent.
#include <QByteArray>
#include <QtGlobal>

namespace veldra::service {

// True when this build sends notifications (it was built with libsystemd).
bool notificationsBuiltIn();
// Sends one state text ("READY=1", "STOPPING=1", "STATUS=...", several separated by
// line feeds); nothing when no service manager listens. It never waits: a thread of its
// own sends, and a manager that does not read loses watchdog messages first.
void notify(const QByteArray& state);
// The watchdog interval the service manager asks of this process, in microseconds;
// 0 when it asks none.
quint64 watchdogIntervalUsec();

}  // namespace veldra::service
