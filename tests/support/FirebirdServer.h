#pragma once

#include "tests/support/TestEnv.h"

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vela::test {

// A Firebird server of the test's own, listening on 127.0.0.1 and a free port. Its configuration,
// security database (SYSDBA / quillfern) and lock files live in a temporary folder: the system's
// configuration and any system server are neither used nor changed. Needs the server binary of
// Debian's firebird3.0-server; skipReason() tells why when it cannot be had.
class FirebirdServer {
public:
    FirebirdServer();
    ~FirebirdServer();
    FirebirdServer(const FirebirdServer&) = delete;
    FirebirdServer& operator=(const FirebirdServer&) = delete;

    bool running() const { return pid_ > 0; }
    // Empty when the server runs.
    const std::string& skipReason() const { return skipReason_; }
    int port() const { return port_; }
    // The connection string of a database file through this server.
    std::string url(const std::string& path) const;

    // Starts the server process again (after kill()) on the same port and security database.
    bool start();
    // Ends the server at once, as a crash or a pulled cable would.
    void kill();

    // Runs an isql script through the server as SYSDBA with the given password.
    void isql(const std::string& database, const std::string& sql, const std::string& password = "quillfern");
    void setSysdbaPassword(const std::string& current, const std::string& next);

private:
    bool fail(const std::string& why);
    std::map<std::string, std::string> env() const;

    TempDir root_;
    std::string binary_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::string skipReason_;
};

// The program started in the background, for faults that must strike while it runs.
class BackgroundRun {
public:
    BackgroundRun(Installation& installation, const std::vector<std::string>& args = {"EXECUTAR"});
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    bool finished();
    // Waits for the end; kills the program and marks the result as timed out past the limit.
    RunResult wait(std::chrono::milliseconds timeout);

private:
    Installation& in_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool done_ = false;
};

// Runs a command line with extra environment; returns its exit status and puts its output in out.
int runCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               const std::string& input, std::string* out);

} // namespace vela::test
