#pragma once

#include "common/Error.h"
#include "publish/FtpClient.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vela {

struct SftpSettings {
    std::string host;
    int port = 22;
    std::string user;
    // Used when keyFile is empty.
    std::string password;
    // A private key without a passphrase (OpenSSH or PEM format), readable by its owner alone.
    std::string keyFile;
    // How the server's host key is checked: against a file in OpenSSH's known_hosts format, or a
    // fingerprint as `ssh-keygen -lf` prints it ("SHA256:" and base64), or both. With neither the
    // connection is refused; there is no way to skip the check.
    std::string knownHosts;
    std::string hostKeySha256;
    // Where remote paths start, as an absolute path on the server. Empty: the account's home.
    std::string remoteRoot;
    // How long to wait for the server: for the connection and SSH handshake, and for a stalled
    // transfer to move again.
    std::chrono::seconds replyTimeout{60};
};

// One SFTP session with the publishing server, over libcurl's SSH. The server's host key is
// checked before anything of ours (the login included) is sent.
//
// Remote paths are given as "/www/downloads/CasadoNo/BANCODADOS.gdb" and taken under the remote
// root. Every failure throws vela::Error with curl's text, or with our own for a host key or key
// file refused; its code is the CURLcode. Not for use from more than one thread, nor again from
// inside its own callbacks.
class SftpClient {
public:
    using Progress = FtpClient::Progress;
    using Waiting = FtpClient::Waiting;

    explicit SftpClient(SftpSettings settings);
    ~SftpClient();
    SftpClient(SftpClient&&) noexcept;
    SftpClient& operator=(SftpClient&&) noexcept;
    SftpClient(const SftpClient&) = delete;
    SftpClient& operator=(const SftpClient&) = delete;

    // Connects, checks the host key and logs in; the connection stays open for what follows.
    void connect();

    // Sends the whole local file as a new file (created or truncated, never appended) under
    // remotePath. No folder is created. Reconnects if the connection is gone. An exception thrown
    // by progress aborts the transfer and comes out of store() unchanged; what was sent so far
    // stays under remotePath.
    void store(const std::string& localPath, const std::string& remotePath, const Progress& progress);

    // The size of a stored file.
    std::optional<std::int64_t> remoteSize(const std::string& remotePath);

    // Renames a remote file. OpenSSH will not rename onto an existing file: when the rename fails
    // and `to` exists, throws RenameRefused, so that the caller can move the old file away first.
    void rename(const std::string& from, const std::string& to);

    void remove(const std::string& remotePath);

    // Runs about every 50 ms while the server is awaited. An exception thrown by it aborts the
    // operation under way and comes out of it unchanged. Empty: nothing runs.
    void setWaiting(Waiting waiting);

    // Closes the open connection. Throws when it is already gone.
    void quit();

    // Drops the connection without reporting anything. The next connect() or store() starts afresh.
    void close() noexcept;

private:
    struct Session;
    Session& session();

    std::unique_ptr<Session> session_;
};

// The fingerprint of an SSH public key blob as `ssh-keygen -lf` shows it: "SHA256:" and the
// digest in base64 without padding.
std::string sshFingerprint(const unsigned char* key, std::size_t length);

} // namespace vela
