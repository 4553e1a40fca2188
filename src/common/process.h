// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Settings of the whole server process, made at the start of main() before any thread
// runs, and the signals of the headless server.
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace veldra {

// - Large blocks (answers, cache files) get pages of their own from the system, which a
//   growing answer keeps when it grows and which go back when it is freed: a large
//   answer costs about its own size, not twice that while it is copied to a larger block.
// - The local time zone is read from /etc/localtime once instead of before every
//   clock reading (TZ set to it when unset); log stamps stay local time.
void prepareServerProcess();

// Signals as events of the main thread's loop: the handler of each signal only writes
// its number into a socket pair, whose other end the loop watches; `handler` then runs
// in the main thread, once per signal received. SIGPIPE is ignored. One at a time.
class SignalEvents {
public:
    SignalEvents(std::initializer_list<int> signalNumbers, std::function<void(int signal)> handler);
    ~SignalEvents();  // the signals get their default handling back
    SignalEvents(const SignalEvents&) = delete;
    SignalEvents& operator=(const SignalEvents&) = delete;

    // False when the socket pair could not be made (nothing is watched then).
    bool ok() const { return m_notifier != nullptr; }

private:
    std::function<void(int)> m_handler;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<int> m_signals;
};

}  // namespace veldra
