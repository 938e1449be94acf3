#pragma once

#include "common/Error.h"

#include <atomic>

namespace vela {

// A stop asked of a running step. The step looks at it at points of its own (each row, each upload
// progress report, between long calls) and leaves through its failure path from there: nothing is
// thrown out of an event round.
class StopToken {
public:
    void raise() noexcept { raised_.store(true, std::memory_order_relaxed); }
    // Also counts as raised while flag is set: the stop signals' flag, set from a handler, seen
    // without waiting for the event loop to read the signal's pipe. nullptr stops watching it.
    void watch(const std::atomic<bool>* flag) noexcept { watched_ = flag; }
    bool raised() const noexcept {
        return raised_.load(std::memory_order_relaxed) || (watched_ && watched_->load(std::memory_order_relaxed));
    }
    // Throws the run's stop message if raised.
    void check() const {
        if (raised())
            throw Error("Execução interrompida.");
    }

private:
    std::atomic<bool> raised_{false};
    const std::atomic<bool>* watched_ = nullptr;
};

} // namespace vela
