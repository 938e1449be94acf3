#include "app/StopSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <ibase.h>
#include <stdexcept>
#include <unistd.h>

namespace vela {

namespace {

// Written by the handler, read by the event loop; kept for the life of the process so that a late
// signal still finds somewhere to go.
int pipeFds[2] = {-1, -1};
std::atomic<bool> signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onStopSignal(int signal) {
    signalled = true;
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

// Called by the client's own signal thread before it shuts the engine down; any answer but 0
// cancels that shutdown. Once attached, the client's handler has taken the place of ours, so the
// stop is passed on from here.
int refuseSignalShutdown(const int reason, const int, void*) {
    if (reason != fb_shutrsn_signal)
        return 0;
    onStopSignal(SIGTERM);
    return 1;
}

} // namespace

StopSignals::StopSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe2 failed");
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls carry on: the stop happens at the run's next row or progress report.
    action.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &action, nullptr);
    ISC_STATUS_ARRAY status;
    fb_shutdown_callback(status, refuseSignalShutdown, fb_shut_confirmation, nullptr);

    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[64];
        while (::read(pipeFds[0], bytes, sizeof bytes) > 0) {
        }
        onSignal_();
    });
}

StopSignals::~StopSignals() = default;

bool StopSignals::raised() {
    return signalled;
}

const std::atomic<bool>& StopSignals::flag() {
    return signalled;
}

} // namespace vela
