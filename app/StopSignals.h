#pragma once

#include <atomic>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vela {

// SIGINT, SIGTERM and SIGHUP become a call of onSignal from the event loop (also from the
// processing of pending events inside a step), so that a run stops in order at a point of its
// own choosing. The handler itself only writes to a pipe.
//
// The database client installs handlers of its own for SIGINT and SIGTERM that shut its engine
// down from another thread, under the feet of a running step, and race the program's own shutdown
// and exit. So the program takes the signals over before any thread exists: they are blocked in
// every thread and taken by one thread of ours, which only writes to the pipe; no handler ever runs
// inside the engine. The program shuts the engine down itself on its way out.
class StopSignals {
public:
    // Call first in main, before any thread is made. Until a StopSignals exists a signal ends the
    // process as its default action does; from then on it raises the stop, for good.
    static void takeOverEarly();

    explicit StopSignals(std::function<void()> onSignal);
    ~StopSignals();

    // Whether one of the signals came, readable at any time without the event loop.
    static bool raised();
    // The same, for a stop token to watch.
    static const std::atomic<bool>& flag();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace vela
