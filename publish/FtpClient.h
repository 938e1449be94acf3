#pragma once

#include "common/Error.h"
#include "publish/UploadTransport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vela {

struct FtpSettings {
    std::string host;
    int port = 21;
    std::string user = "tarquimsistemas";
    std::string password = "582716";
    // How long to wait for the server: for the TCP connection, for each reply, and for a stalled
    // data connection to move again.
    std::chrono::seconds replyTimeout{60};
    // Off: clear text. Try: TLS where the server offers AUTH TLS. Require: TLS or fail. Under TLS
    // the data connections are protected too (PROT P), and the server's certificate is always
    // verified, against caFile when given, else the system's authorities.
    enum class Tls { Off, Try, Require };
    Tls tls = Tls::Off;
    std::string caFile;
    // How many times a failed upload is tried again, after failures that a later try could cure,
    // and how long to wait before each new try.
    int retries = 0;
    std::chrono::seconds retryWait{30};
    // The most bytes a second the store sends, in KB/s (1024 bytes); 0: no limit.
    std::int64_t maxRate = 0;
    // Whether the upload refuses a folder whose owner file names another company.
    bool ownerCheck = true;
};

// One FTP session with the publishing server: passive mode over IPv4, no proxy, binary transfers,
// files stored under their full remote path without walking folders.
//
// Every failure throws vela::Error; those of the server or the network a TransferError naming the
// server and the path, then the server's reply when the server refused something ("530 Login
// incorrect."), else curl's own description; its code is the CURLcode.
// Not for use from more than one thread, nor again from inside its own progress callback.
class FtpClient final : public UploadTransport {
public:
    explicit FtpClient(FtpSettings settings);
    ~FtpClient() override;
    FtpClient(FtpClient&&) noexcept;
    FtpClient& operator=(FtpClient&&) noexcept;
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // As UploadTransport says; what FTP adds:
    // - store() sends STOR (never an append or a resume) of the full path, without CWD;
    // - remoteSize() asks SIZE; a server that knows no SIZE tells nothing;
    // - remoteTime() asks MDTM; read() RETR;
    // - rename() sends RNFR and RNTO, and throws RenameRefused when RNTO was refused with 550 and
    //   SIZE or the listing finds `to`;
    // - list() asks NLST; encrypted() is true only when the server took both AUTH TLS and PROT P;
    // - quit() throws when the server does not acknowledge the QUIT; close() still lets curl say
    //   QUIT, waiting at most the reply timeout; abort() resets the sockets, which also ends a
    //   transfer the server is still reading.
    void connect() override;
    void store(const std::string& localPath, const std::string& remotePath, const Progress& progress) override;
    std::optional<std::int64_t> remoteSize(const std::string& remotePath) override;
    std::optional<std::int64_t> remoteTime(const std::string& remotePath) override;
    std::string read(const std::string& remotePath, std::size_t limit) override;
    void rename(const std::string& from, const std::string& to) override;
    void remove(const std::string& remotePath) override;
    std::vector<std::string> list(const std::string& folder) override;
    bool encrypted() const override;
    void setWaiting(Waiting waiting) override;
    void quit() override;
    void close() noexcept override;
    void abort() noexcept override;

private:
    struct Session;
    Session& session();

    std::unique_ptr<Session> session_;
};

} // namespace vela
