#include "tests/support/FirebirdServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <glob.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vela::test {

namespace {

std::string findServerBinary() {
    if (const char* env = std::getenv("VELA_FIREBIRD_SERVER"))
        return env;
    for (const char* p : {"/usr/sbin/firebird", "/opt/firebird/bin/firebird"})
        if (access(p, X_OK) == 0)
            return p;
    return {};
}

// The message file of the installation; its folder is the installation's root.
std::string findMessageFile() {
    glob_t g{};
    std::string found;
    if (glob("/usr/lib/*/firebird/3.0/firebird.msg", 0, nullptr, &g) == 0 && g.gl_pathc > 0)
        found = g.gl_pathv[0];
    globfree(&g);
    if (found.empty() && access("/opt/firebird/firebird.msg", R_OK) == 0)
        found = "/opt/firebird/firebird.msg";
    return found;
}

int freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

bool accepts(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

std::string readIfExists(const std::string& path) {
    try {
        return readFile(path);
    } catch (...) {
        return {};
    }
}

} // namespace

// Everything the child needs is made before fork: the test process has the embedded engine's
// threads, so between fork and exec only async-signal-safe calls are made.
static pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                   const std::string& stdinPath, const std::string& stdoutPath, const std::string& stderrPath,
                   const std::string& cwd = {}, bool newSession = false) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        std::string kv(*e);
        auto eq = kv.find('=');
        if (eq != std::string::npos)
            all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : env) {
        if (v.empty())
            all.erase(k);
        else
            all[k] = v;
    }
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : all)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings(argv);
    std::vector<char*> args;
    for (auto& a : argStrings)
        args.push_back(a.data());
    args.push_back(nullptr);

    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (newSession) {
            // A server left behind by a test program that crashed would hold its port for good.
            setsid();
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(125);
        }
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        int in = open(stdinPath.c_str(), O_RDONLY);
        int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int err = stderrPath == stdoutPath ? out : open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int runCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               const std::string& input, std::string* out) {
    TempDir io;
    std::string inPath = io / "in", outPath = io / "out";
    writeFile(inPath, input);
    pid_t pid = spawn(argv, env, inPath, outPath, outPath);
    int status = 0;
    waitpid(pid, &status, 0);
    if (out)
        *out = readIfExists(outPath);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

FirebirdServer::FirebirdServer() {
    binary_ = findServerBinary();
    if (binary_.empty()) {
        fail("no Firebird server binary (install Debian's firebird3.0-server, or set VELA_FIREBIRD_SERVER)");
        return;
    }
    std::string msg = findMessageFile();
    if (msg.empty()) {
        fail("no firebird.msg of a Firebird 3 installation found");
        return;
    }
    port_ = freePort();
    if (!port_) {
        fail("no free port on 127.0.0.1");
        return;
    }
    fs::create_directory(root_ / "lock");
    // The installation's own files stand in the private root beside its configuration, as some
    // of them (messages, character sets) are looked for there.
    // The character sets' module is copied, not linked: the engine finds it again by its real
    // path, which has to lie under the root the configuration names.
    for (const auto& entry : fs::directory_iterator(fs::path(msg).parent_path())) {
        std::string name = entry.path().filename().string();
        if (name == "intl")
            fs::copy(entry.path(), root_ / name, fs::copy_options::recursive);
        else if (name != "firebird.conf" && name != "databases.conf")
            fs::create_symlink(entry.path(), root_ / name);
    }
    const std::string security = root_ / "security3.fdb";
    writeFile(root_ / "firebird.conf", "RemoteBindAddress = 127.0.0.1\n"
                                       "RemoteServicePort = " +
                                           std::to_string(port_) +
                                           "\n"
                                           "SecurityDatabase = " +
                                           security +
                                           "\n"
                                           "ServerMode = Super\n"
                                           "AuthServer = Srp\n"
                                           "UserManager = Srp\n");
    writeFile(root_ / "databases.conf", "");
    // Embedded isql under the private root: the new database is itself the security database.
    std::string out;
    int rc = runCommand({VELA_ISQL, "-q", "-b", "-user", "SYSDBA"}, env(),
                        "create database '" + security +
                            "';\ncommit;\n"
                            "create or alter user SYSDBA password 'quillfern' using plugin Srp;\ncommit;\n",
                        &out);
    if (rc != 0) {
        fail("the security database could not be made: " + out);
        return;
    }
    start();
}

FirebirdServer::~FirebirdServer() {
    kill();
}

bool FirebirdServer::fail(const std::string& why) {
    skipReason_ = "Firebird server not available: " + why;
    return false;
}

std::map<std::string, std::string> FirebirdServer::env() const {
    return {{"FIREBIRD", root_.path()}, {"FIREBIRD_LOCK", root_ / "lock"}};
}

std::string FirebirdServer::url(const std::string& path) const {
    return "127.0.0.1/" + std::to_string(port_) + ":" + path;
}

bool FirebirdServer::start() {
    if (running())
        return true;
    std::string log = root_ / "server.log";
    pid_t pid = spawn({binary_}, env(), "/dev/null", log, log, {}, true);
    pid_ = pid;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return fail("the server ended at start: " + readIfExists(log));
        }
        if (accepts(port_)) {
            skipReason_.clear();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill();
    return fail("the server did not listen on port " + std::to_string(port_) + ": " + readIfExists(log));
}

void FirebirdServer::kill() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void FirebirdServer::isql(const std::string& database, const std::string& sql, const std::string& password) {
    std::string out;
    int rc = runCommand({VELA_ISQL, "-q", "-b", "-user", "SYSDBA", "-password", password, url(database)}, {},
                        sql + "\ncommit;\n", &out);
    if (rc != 0)
        throw std::runtime_error("isql through the server failed: " + out);
}

void FirebirdServer::setSysdbaPassword(const std::string& current, const std::string& next) {
    isql(root_ / "security3.fdb", "alter user SYSDBA password '" + next + "' using plugin Srp;", current);
}

BackgroundRun::BackgroundRun(Installation& installation, const std::vector<std::string>& args) : in_(installation) {
    std::string outPath = in_.dir / "stdout.txt", errPath = in_.dir / "stderr.txt";
    fs::remove(outPath);
    fs::remove(errPath);
    std::vector<std::string> argv{in_.exe};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = spawn(argv, {{"QT_QPA_PLATFORM", "offscreen"}, {"ATUALIZAVELA_CONFIG", ""}}, "/dev/null", outPath, errPath,
                 in_.dir.path());
}

BackgroundRun::~BackgroundRun() {
    if (!done_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
}

bool BackgroundRun::finished() {
    if (!done_ && waitpid(pid_, &status_, WNOHANG) == pid_)
        done_ = true;
    return done_;
}

RunResult BackgroundRun::wait(std::chrono::milliseconds timeout) {
    RunResult r;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!finished()) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
            done_ = true;
            r.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.exitCode = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    r.out = readIfExists(in_.dir / "stdout.txt");
    r.err = readIfExists(in_.dir / "stderr.txt");
    return r;
}

} // namespace vela::test
