#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace vela::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (rc != 0) {
        ::close(input_);
        ::close(output_);
        throw std::runtime_error("cannot start " + argv.front());
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)), buffered_(std::move(other.buffered_)) {}

ChildProcess::~ChildProcess() {
    stop();
    closeInput();
    if (output_ >= 0)
        ::close(output_);
}

std::string ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{output_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            throw std::runtime_error("no line from the child in time");
        char chunk[256];
        const ssize_t n = ::read(output_, chunk, sizeof chunk);
        if (n <= 0)
            throw std::runtime_error("the child closed its output");
        buffered_.append(chunk, static_cast<size_t>(n));
    }
}

void ChildProcess::writeInput(const std::string& text) {
    if (::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("cannot write to the child");
}

void ChildProcess::closeInput() {
    if (input_ >= 0)
        ::close(std::exchange(input_, -1));
}

int ChildProcess::wait() {
    int status = 0;
    if (pid_ > 0) {
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    return status;
}

void ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    // A child that ignores or swallows SIGTERM must not hang the test: past the grace it is killed.
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        ::usleep(5000);
    }
    ::kill(pid_, SIGKILL);
    wait();
}

} // namespace vela::test
