// The driver's processes: a child started and waited for (its time, processor time and peak
// memory), the local FTP server, and a port nothing answers on.
#pragma once

#include "bench/ChildReport.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vela::bench {

struct Exit {
    int code = -1;
    bool timedOut = false;
    double seconds = 0;
    long peakRssKiB = 0; // of the child alone
    double cpuSeconds = 0;
};

// Where the child draws: offscreen, or with no display at all (no DISPLAY, WAYLAND_DISPLAY or
// QT_QPA_PLATFORM), as a scheduled run on a server has it.
enum class Display { Offscreen, None };

Exit spawn(const std::vector<std::string>& args, const std::string& cwd, const std::string& outPath,
           Display display = Display::Offscreen, std::chrono::seconds timeout = std::chrono::hours(3));

std::string readAll(const std::string& path);
std::string tail(const std::string& text, size_t n = 1500);
// Reads a file through, so that the first measured run is not the one that reads it from disk.
void warmUp(const std::string& file);

// The tests' FTP server on 127.0.0.1, serving a folder of its own.
class FtpServer {
public:
    FtpServer(const std::string& script, const std::string& root);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;
    int port() const { return port_; }
    std::string path(const std::string& remote) const { return root_ + remote; }

private:
    std::string root_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// A local port that refuses every connection at once: bound while this lives, never listening.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

} // namespace vela::bench
