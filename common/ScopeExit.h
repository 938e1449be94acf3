#pragma once

#include <utility>

namespace vela {

// Runs an action when the scope ends, however it ends: what was set for one request is put back
// even when the request throws. The action must not throw.
template <typename Action> class ScopeExit {
public:
    explicit ScopeExit(Action action) : action_(std::move(action)) {}
    ~ScopeExit() { action_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Action action_;
};

} // namespace vela
