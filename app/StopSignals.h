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
// The database client shuts its engine down by itself on SIGINT and SIGTERM, under the feet of a
// running step; it is told no here, and the program shuts the engine down on its way out.
class StopSignals {
public:
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
