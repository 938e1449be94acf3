#include "tests/support/SshServer.h"

#include "tests/support/TestEnv.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vela::test {
namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";
// Accounts made by these tests: the prefix and the process id, so that one left by a crashed run
// can be told apart and removed by the next.
constexpr std::string_view kAccountPrefix = "velasftp";

std::string quotedArg(const std::string& s) {
    return "'" + s + "'";
}

void run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string output(const std::string& command) {
    std::FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run: " + command);
    std::string text;
    char chunk[256];
    while (size_t n = std::fread(chunk, 1, sizeof chunk, pipe))
        text.append(chunk, n);
    ::pclose(pipe);
    return text;
}

// sshd chroots only into a folder every component of whose path is root's and writable by no
// one else.
std::string unfitForChroot(const fs::path& path) {
    fs::path walked;
    for (const fs::path& part : path) {
        walked /= part;
        struct stat status {};
        if (::stat(walked.c_str(), &status) != 0)
            return walked.string() + " is missing";
        if (status.st_uid != 0 || (status.st_mode & 022) != 0)
            return walked.string() + " is not root's alone, as sshd's chroot needs";
    }
    return {};
}

// Where the server's folders go: the build folder, or /run when the build lies below a folder others
// may write (a clone under /tmp).
std::optional<fs::path> chrootBase() {
    for (const fs::path& base : {fs::path(VELA_BINARY_DIR), fs::path("/run")})
        if (unfitForChroot(base).empty())
            return base;
    return std::nullopt;
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free port");
    ::close(fd);
    return ntohs(address.sin_port);
}

void removeStaleAccounts() {
    std::istringstream passwd(readFile("/etc/passwd"));
    for (std::string line; std::getline(passwd, line);) {
        const std::string name = line.substr(0, line.find(':'));
        if (name.rfind(kAccountPrefix, 0) != 0 || name.size() == kAccountPrefix.size())
            continue;
        const long pid = std::strtol(name.c_str() + kAccountPrefix.size(), nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::system(("userdel " + name + " >/dev/null 2>&1").c_str());
    }
}

} // namespace

std::string fingerprintOf(const std::string& publicKeyFile) {
    // "256 SHA256:... comment (ED25519)"
    std::istringstream line(output("ssh-keygen -lf " + quotedArg(publicKeyFile)));
    std::string bits;
    std::string fingerprint;
    line >> bits >> fingerprint;
    if (fingerprint.rfind("SHA256:", 0) != 0)
        throw std::runtime_error("ssh-keygen gave no fingerprint for " + publicKeyFile);
    return fingerprint;
}

std::string SshServer::unavailable() {
    if (::geteuid() != 0)
        return "the SFTP tests run sshd with a chroot, which needs root";
    if (::access(kSshd, X_OK) != 0)
        return std::string(kSshd) + " is missing (Debian's openssh-server)";
    if (!chrootBase())
        return unfitForChroot(fs::path(VELA_BINARY_DIR)) + ", and so is /run";
    return {};
}

SshServer::SshServer(bool everyKeyType) {
    const std::optional<fs::path> base = chrootBase();
    if (!base)
        throw std::runtime_error(unavailable());
    std::string tmpl = (*base / "vela-sshd-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    try {
        fs::permissions(dir_, fs::perms(0755));
        fs::create_directories(dir_ / "etc");
        fs::create_directories(downloads());
        // sshd's privilege separation needs this; the system's service would make it.
        fs::create_directories("/run/sshd");
        const std::string etc = (dir_ / "etc").string();
        run("ssh-keygen -q -t ed25519 -N '' -C vela-test-host -f " + quotedArg(etc + "/host_key"));
        if (everyKeyType)
            for (const char* type : {"rsa", "ecdsa"})
                run("ssh-keygen -q -t " + std::string(type) + " -N '' -C vela-test-host -f " +
                    quotedArg(etc + "/host_key_" + type));
        fingerprint_ = fingerprintOf(etc + "/host_key.pub");
        std::istringstream pub(readFile(etc + "/host_key.pub"));
        std::string type;
        std::string blob;
        pub >> type >> blob;
        publicKey_ = type + " " + blob;
        const std::string clientKey = makeKey("client_key");
        fs::copy_file(clientKey + ".pub", etc + "/authorized_keys");
        start();
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        throw;
    }
}

void SshServer::start() {
    const std::string etc = (dir_ / "etc").string();
    std::ostringstream config;
    config << "ListenAddress 127.0.0.1\n"
           << "HostKey " << etc << "/host_key\n";
    for (const char* type : {"rsa", "ecdsa"})
        if (fs::exists(etc + "/host_key_" + type))
            config << "HostKey " << etc << "/host_key_" << type << "\n";
    config << "PidFile none\n"
           << "UsePAM no\n"
           // The keys live in the test's folders, not in a home of root's.
           << "StrictModes no\n"
           << "PermitRootLogin prohibit-password\n"
           << "AuthorizedKeysFile " << etc << "/authorized_keys\n"
           << "PubkeyAuthentication yes\n"
           << "PasswordAuthentication yes\n"
           << "KbdInteractiveAuthentication no\n"
           << "ChrootDirectory " << root().string() << "\n"
           << "ForceCommand internal-sftp -d /home\n"
           << "Subsystem sftp internal-sftp\n"
           << "AllowTcpForwarding no\n"
           << "X11Forwarding no\n"
           << "LogLevel VERBOSE\n";
    writeFile(etc + "/sshd_config", config.str());
    // Another process may take the port between our probe and sshd's bind: then try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freePort();
        const std::string log = etc + "/sshd.log";
        fs::remove(log);
        process_.emplace(std::vector<std::string>{kSshd, "-D", "-f", etc + "/sshd_config", "-E", log, "-o",
                                                  "Port=" + std::to_string(port_)});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string text = fs::exists(log) ? readFile(log) : std::string();
            if (text.find("Server listening on") != std::string::npos)
                return;
            if (text.find("Cannot bind") != std::string::npos || text.find("fatal") != std::string::npos) {
                if (text.find("Cannot bind") == std::string::npos)
                    throw std::runtime_error("sshd did not start: " + text);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        process_.reset();
    }
    throw std::runtime_error("sshd did not start listening");
}

SshServer::~SshServer() {
    freezeSessions(false);
    process_.reset();
    if (!account_.empty())
        std::system(("userdel " + account_ + " >/dev/null 2>&1").c_str());
    if (!std::getenv("VELA_KEEP_TEST_DIRS")) {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
}

std::string SshServer::knownHostsLine() const {
    return "[127.0.0.1]:" + std::to_string(port_) + " " + publicKey_ + "\n";
}

SftpSettings SshServer::settings() const {
    SftpSettings s;
    s.host = "127.0.0.1";
    s.port = port_;
    s.user = "root";
    s.keyFile = (dir_ / "etc" / "client_key").string();
    s.hostKeySha256 = fingerprint_;
    s.replyTimeout = std::chrono::seconds(10);
    return s;
}

std::string SshServer::makeKey(const std::string& name) const {
    const std::string path = (dir_ / "etc" / name).string();
    run("ssh-keygen -q -t ed25519 -N '' -C vela-test -f " + quotedArg(path));
    return path;
}

std::optional<std::string> SshServer::addPasswordAccount(const std::string& password, std::string* reason) {
    removeStaleAccounts();
    const std::string name = std::string(kAccountPrefix) + std::to_string(::getpid());
    if (std::system(("useradd -M -d /home -s /usr/sbin/nologin " + name + " >/dev/null 2>&1").c_str()) != 0) {
        *reason = "useradd cannot make a test account here";
        return std::nullopt;
    }
    account_ = name;
    if (std::system(("echo " + quotedArg(name + ":" + password) + " | chpasswd >/dev/null 2>&1").c_str()) != 0) {
        *reason = "chpasswd cannot set the test account's password";
        return std::nullopt;
    }
    run("chown -R " + name + " " + quotedArg((home() / "www").string()));
    return name;
}

std::string SshServer::keyscan(const std::vector<std::string>& types) const {
    const std::string scanned = output("ssh-keyscan -p " + std::to_string(port_) + " 127.0.0.1");
    std::string ordered;
    for (const std::string& type : types) {
        std::istringstream lines(scanned);
        for (std::string line; std::getline(lines, line);)
            if (line.find(" " + type + " ") != std::string::npos)
                ordered += line + "\n";
    }
    return ordered;
}

void SshServer::freezeSessions(bool frozen) {
    if (!frozen) {
        for (pid_t pid : frozen_)
            ::kill(pid, SIGCONT);
        frozen_.clear();
        return;
    }
    // Every descendant of the listener, from the parents /proc names.
    std::vector<pid_t> family{process_->pid()};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const pid_t pid = static_cast<pid_t>(std::strtol(entry.path().filename().c_str(), nullptr, 10));
            if (pid <= 0 || std::find(family.begin(), family.end(), pid) != family.end())
                continue;
            std::string text;
            try {
                text = readFile(entry.path() / "stat");
            } catch (const std::exception&) {
                continue; // gone meanwhile
            }
            std::istringstream stat(text);
            std::string skip;
            pid_t parent = 0;
            // pid (comm) state ppid; sshd's comm holds no blanks or parentheses
            stat >> skip >> skip >> skip >> parent;
            if (std::find(family.begin(), family.end(), parent) != family.end()) {
                family.push_back(pid);
                grew = true;
            }
        }
    }
    for (auto pid = family.begin() + 1; pid != family.end(); ++pid)
        if (::kill(*pid, SIGSTOP) == 0)
            frozen_.push_back(*pid);
}

std::string SshServer::stopAndReadLog() {
    process_.reset();
    return readFile((dir_ / "etc" / "sshd.log").string());
}

} // namespace vela::test
