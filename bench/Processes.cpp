#include "bench/Processes.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vela::bench {

Exit spawn(const std::vector<std::string>& args, const std::string& cwd, const std::string& outPath, Display display,
           std::chrono::seconds timeout) {
    auto t0 = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        if (!outPath.empty()) {
            if (!std::freopen(outPath.c_str(), "w", stdout) || !std::freopen(outPath.c_str(), "a", stderr))
                _exit(126);
        }
        if (display == Display::Offscreen) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        } else {
            unsetenv("QT_QPA_PLATFORM");
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
        }
        unsetenv("ATUALIZAVELA_CONFIG");
        std::vector<char*> argv;
        std::vector<std::string> copy(args);
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Exit r;
    int status = 0;
    rusage usage{};
    auto deadline = t0 + timeout;
    for (;;) {
        pid_t w = wait4(pid, &status, WNOHANG, &usage);
        if (w == pid)
            break;
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            r.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.seconds = seconds(t0, Clock::now());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.peakRssKiB = usage.ru_maxrss;
    r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return r;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string tail(const std::string& text, size_t n) {
    return text.size() > n ? text.substr(text.size() - n) : text;
}

void warmUp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buf(1 << 20);
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size())) || in.gcount() > 0) {
    }
}

FtpServer::FtpServer(const std::string& script, const std::string& root) : root_(root) {
    fs::create_directories(root + "/www/downloads/CasadoNo");
    std::string portFile = root + ".port";
    fs::remove(portFile);
    pid_ = fork();
    if (pid_ == 0) {
        // The tests' server: it prints the port it bound as its first line.
        std::string log = root + ".log";
        if (!std::freopen(portFile.c_str(), "w", stdout) || !std::freopen(log.c_str(), "a", stderr))
            _exit(126);
        execl("/usr/bin/python3", "python3", script.c_str(), "--port", "0", "--home", root.c_str(), "--user",
              "tarquimsistemas", "--password", "582716", "--log", log.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 500 && port_ == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::string text = readAll(portFile);
        if (!text.empty() && text.back() == '\n')
            port_ = std::atoi(text.c_str());
    }
    if (port_ == 0)
        throw std::runtime_error("the FTP server did not start: " + readAll(root + ".log"));
}

FtpServer::~FtpServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

ClosedPort::ClosedPort() {
    // A TCP socket that is bound but not listening answers every connection with a reset, so the
    // client fails at once; keeping it bound stops anything else from taking the port meanwhile.
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no local port to refuse connections on");
    port_ = ntohs(address.sin_port);
}

ClosedPort::~ClosedPort() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace vela::bench
