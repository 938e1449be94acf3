#pragma once

namespace vela {

// The program's exit statuses, the same with or without a window, for schedulers and monitors.
enum ExitStatus : int {
    kExitDone = 0,    // published (unattended), or every step run from the window done
    kExitFailed = 1,  // a step failed or was stopped
    kExitRefused = 2, // usage, display or settings refused before anything was touched
    kExitLocked = 3,  // another run holds the run lock of the mobile database
};

// The status a program ends with after runs that ended with a and b: a failure outweighs a refusal
// by the lock, which outweighs success.
constexpr int worseExit(int a, int b) {
    if (a == kExitFailed || b == kExitFailed)
        return kExitFailed;
    return a != kExitDone ? a : b;
}

} // namespace vela
