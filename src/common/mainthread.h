#pragma once
// The one way other threads hand work to the main thread.
//
// runSync() runs a function in the main thread and waits until it has run; called from
// the main thread it runs at once. An exception thrown by the function reaches the
// caller. While the main thread waits for other threads (STOP), it keeps serving
// hand-overs through servePending().
#include <functional>

namespace veldra::mainthread {

// Call once from the main thread after the QCoreApplication exists.
void install();
bool isMainThread();
void runSync(const std::function<void()>& fn);
// Queues a function for the main thread without waiting.
void post(std::function<void()> fn);
// Runs the hand-overs and events that are waiting; main thread only.
void servePending();
// Serves hand-overs until `done` returns true (checked about every 2 ms), then those
// queued by then; main thread only.
void serveUntil(const std::function<bool()>& done);

}  // namespace veldra::mainthread
