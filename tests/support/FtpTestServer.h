#pragma once

#include "publish/FtpClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnv.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vela::test {

// A real FTP server (tests/support/ftp_server.py) on 127.0.0.1 and a free port, serving a home
// folder of its own that already holds www/downloads. The account is the program's.
class FtpTestServer {
public:
    explicit FtpTestServer(const std::vector<std::string>& faultOptions = {});

    int port() const { return port_; }
    std::filesystem::path home() const { return home_.path(); }
    std::filesystem::path downloads() const { return std::filesystem::path(home_.path()) / "www" / "downloads"; }
    FtpSettings settings() const;

    // Stops the server, so that everything it did is in its log, and returns the log.
    std::string stopAndReadLog();
    void stop();

private:
    TempDir home_;
    TempDir work_;
    std::optional<ChildProcess> process_;
    int port_ = 0;
};

// A certificate authority of its own and a server certificate it signed for 127.0.0.1, made by
// openssl in a temporary folder.
struct TestCa {
    TestCa();
    TempDir dir;
    std::string caFile() const { return dir / "ca.pem"; }
    // The options that make FtpTestServer speak explicit FTPS with the server certificate.
    std::vector<std::string> serverOptions() const { return {"--tls", dir / "server.pem", dir / "server.key"}; }
};

// How many lines of the server log contain needle.
int countLines(const std::string& log, const std::string& needle);

} // namespace vela::test
