#pragma once

#include "common/Error.h"
#include "publish/UploadTransport.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    // As FtpSettings: new tries after failures a later try could cure, the wait before each, and
    // the most KB/s the store sends (0: no limit).
    int retries = 0;
    std::chrono::seconds retryWait{30};
    std::int64_t maxRate = 0;
    // Whether the upload refuses a folder whose owner file names another company.
    bool ownerCheck = true;
};

// One SFTP session with the publishing server, over libcurl's SSH. The server's host key is
// checked before anything of ours (the login included) is sent.
//
// Remote paths are given as "/www/downloads/CasadoNo/BANCODADOS.gdb" and taken under the remote
// root. A failure of the server or the network throws TransferError with curl's text; a host key or
// key file refused throws vela::Error with our own; the code is the CURLcode. Not for use from more
// than one thread, nor again from inside its own callbacks.
class SftpClient final : public UploadTransport {
public:
    explicit SftpClient(SftpSettings settings);
    ~SftpClient() override;
    SftpClient(SftpClient&&) noexcept;
    SftpClient& operator=(SftpClient&&) noexcept;
    SftpClient(const SftpClient&) = delete;
    SftpClient& operator=(const SftpClient&) = delete;

    // As UploadTransport says; what SFTP adds:
    // - connect() checks the host key before the login;
    // - store() leaves what was sent so far under remotePath when stopped;
    // - rename() throws RenameRefused when the rename fails and `to` exists, as OpenSSH will not
    //   rename onto an existing file;
    // - list() leaves "." and ".." out; encrypted() is always true;
    // - abort() resets the socket, without the SSH goodbye.
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

// The fingerprint setting as ssh-keygen prints it, from what an administrator pasted (the
// "SHA256:" prefix and the padding are optional); empty for an empty setting. Throws Error naming
// [ftp] host_key_sha256 when it is no SHA-256 fingerprint.
std::string expectedFingerprint(const std::string& setting);

// Throws Error when the private key file cannot be opened, or others than its owner may read it:
// it is no longer private then, and ssh itself refuses such a key.
void checkPrivateKey(const std::string& path);

// The fingerprint of an SSH public key blob as `ssh-keygen -lf` shows it: "SHA256:" and the
// digest in base64 without padding.
std::string sshFingerprint(const unsigned char* key, std::size_t length);

} // namespace vela
