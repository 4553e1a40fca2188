// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one way other threads hand work to the main thread.
//
// runSync() runs a function in the main thread and waits until it has run; called from
// the main thread it runs at once. An exception thrown by the function reaches the
// caller. While the main thread waits for other threads (STOP), it keeps serving
// hand-overs through servePending().
//
// The waiting loops (servePending, serveUntil) run hand-overs, timers and repaints but
// take no user input: clicks and keys wait in the window system's queue until the main
// event loop runs again, so nothing the operator does can start inside the wait.
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace veldra::mainthread {

// Call once from the main thread after the QCoreApplication exists.
void install();
bool isMainThread();
// Ends the program with a message naming `where` when called outside the main thread
// (once a QCoreApplication exists). Active in every build, release and test builds
// included: use VELDRA_ASSERT_MAIN_THREAD() at each main-thread-only entry point.
void assertMainThread(const char* where);
void runSync(const std::function<void()>& fn);
// Queues a function for the main thread without waiting. The main thread runs what is
// queued in batches, each of a bounded size, with its other events in between.
void post(std::function<void()> fn);
// Counts events from any thread and has `run(n)` called in the main thread for them:
// one hand-over for all the events counted before it runs, not one for each.
class CoalescedCount {
public:
    explicit CoalescedCount(std::function<void(quint64 count)> run);
    void add();

private:
    struct State;
    std::shared_ptr<State> m_state;  // shared with the hand-over, which may outlive this
};

// Runs the hand-overs waiting now (not those they queue) and the events other than user
// input that are waiting; main thread only.
void servePending();
// Serves hand-overs until `done` returns true (checked about every 2 ms), then those
// queued by then; main thread only.
void serveUntil(const std::function<bool()>& done);

// A long wait of the main thread (a database connect, a walk over many files): with a
// waiting indicator installed, `fn` runs on a helper thread while the main thread keeps
// repainting and serving hand-overs, takes no user input, and the indicator shows `what`.
// Off the main thread, or without an indicator, `fn` simply runs. Either way it returns
// when `fn` has ended; an exception thrown by `fn` reaches the caller.
void runLongWait(const QString& what, const std::function<void()>& fn);
// True while the main thread is inside runLongWait.
bool inLongWait();
// The window shows the wait: `begin` with what it is doing, `end` when it is over.
// Empty functions remove the indicator.
void setLongWaitIndicator(std::function<void(const QString& what)> begin, std::function<void()> end);

}  // namespace veldra::mainthread

#define VELDRA_ASSERT_MAIN_THREAD() ::veldra::mainthread::assertMainThread(Q_FUNC_INFO)
