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
};

// FTP's failures are the upload's.
using FtpError = TransferError;

// One FTP session with the publishing server: passive mode over IPv4, no proxy, binary transfers,
// files stored under their full remote path without walking folders.
//
// Every failure throws vela::Error. Its text is the server's reply when the server refused
// something ("530 Login incorrect."), else curl's own description; its code is the CURLcode.
// Not for use from more than one thread, nor again from inside its own progress callback.
class FtpClient final : public UploadTransport {
public:
    // Waiting runs while connecting, logging in, waiting for a reply or for a stalled transfer.

    explicit FtpClient(FtpSettings settings);
    ~FtpClient() override;
    FtpClient(FtpClient&&) noexcept;
    FtpClient& operator=(FtpClient&&) noexcept;
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Opens the control connection and logs in; nothing is transferred. The connection stays
    // open for store() and quit().
    void connect() override;

    // Sends the whole local file, from its first byte, as a new file (STOR, never an append or a
    // resume) under remotePath, an absolute UTF-8 path such as
    // "/www/downloads/CasadoNo/BANCODADOS.gdb". No folder is created. Reuses the connection of
    // connect(); if that is gone, connects and logs in again. An exception thrown by progress
    // aborts the transfer and comes out of store() unchanged.
    void store(const std::string& localPath, const std::string& remotePath, const Progress& progress) override;

    // The size the server reports for a stored file (SIZE), or nothing when the server does not
    // tell sizes.
    std::optional<std::int64_t> remoteSize(const std::string& remotePath) override;

    // Renames a remote file (RNFR, RNTO). Throws RenameRefused when only RNTO was refused.
    void rename(const std::string& from, const std::string& to) override;

    // Deletes a remote file (DELE).
    void remove(const std::string& remotePath) override;

    // The names in a remote folder (NLST), without their folder.
    std::vector<std::string> list(const std::string& folder) override;

    // Whether the connection last opened is protected by TLS: false when tls=try went on in clear
    // text.
    bool encrypted() const override;

    // An exception thrown by waiting aborts the operation under way and comes out of it unchanged.
    // Empty: nothing runs.
    void setWaiting(Waiting waiting) override;

    // Sends QUIT on the open connection and closes it. Throws when the connection is already gone
    // or the server does not acknowledge the QUIT.
    void quit() override;

    // Drops the connection without reporting anything; curl still says QUIT if it can, waiting at
    // most the reply timeout for the answer. The next connect() or store() starts afresh.
    void close() noexcept override;

    // Drops every connection at once, without QUIT and without waiting for the server: the
    // sockets are reset, which also ends a transfer the server is still reading. The next
    // request logs in again.
    void abort() noexcept override;

private:
    struct Session;
    Session& session();

    std::unique_ptr<Session> session_;
};

} // namespace vela
