#include "app/StopSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <ibase.h>
#include <pthread.h>
#include <stdexcept>
#include <unistd.h>

namespace vela {

namespace {

// Written on a signal, read by the event loop; kept for the life of the process so that a late
// signal still finds somewhere to go.
int pipeFds[2] = {-1, -1};
std::atomic<bool> signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void openPipe() {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe2 failed");
}

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, s);
    return set;
}

extern "C" void onStopSignal(int signal) {
    signalled = true;
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

// Set once something of the program stops in order on a signal; until then a signal ends the
// process as it would have without us (an error box about the settings, the window's library).
std::atomic<bool> answered{false};

// The one thread the signals are delivered to: it takes them as they come, synchronously, so no
// handler interrupts the database engine's work or a system call of another thread.
extern "C" void* takeSignals(void*) {
    const sigset_t set = stopSet();
    for (;;) {
        int signal = 0;
        if (::sigwait(&set, &signal) != 0)
            continue;
        if (answered) {
            onStopSignal(signal);
            continue;
        }
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal, &fallback, nullptr);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
        ::raise(signal);
    }
    return nullptr;
}

// Called by the client's own signal thread before it shuts the engine down; any answer but 0
// cancels that shutdown. It runs only where a signal reached a thread that had not blocked it.
int refuseSignalShutdown(const int reason, const int, void*) {
    if (reason != fb_shutrsn_signal)
        return 0;
    onStopSignal(SIGTERM);
    return 1;
}

} // namespace

void StopSignals::takeOverEarly() {
    openPipe();
    // Every thread made from now on (Qt's, the database engine's, curl's) inherits the mask.
    const sigset_t set = stopSet();
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        throw std::runtime_error("pthread_sigmask failed");
    pthread_t thread;
    if (::pthread_create(&thread, nullptr, takeSignals, nullptr) != 0)
        throw std::runtime_error("pthread_create failed");
    ::pthread_detach(thread);
}

StopSignals::StopSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    openPipe();
    answered = true;
    // For a thread that has not blocked the signals (a program that did not take them over early):
    // the handler only writes to the pipe.
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
