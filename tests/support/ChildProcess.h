#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vela::test {

// A program started for a test, ended (SIGTERM, then reaped) when the holder goes. Its standard
// input and output are pipes of ours; standard error goes to the test's own.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // One line of the child's standard output, without its end; throws after the timeout.
    std::string readLine(std::chrono::milliseconds timeout);
    void writeInput(const std::string& text);
    // Closing the child's input lets a program that reads commands until the end go away.
    void closeInput();
    // Waits for the child to end by itself; returns its wait status.
    int wait();
    // SIGTERM, and SIGKILL if the child has not ended within the grace.
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string buffered_;
};

} // namespace vela::test
