#pragma once

#include "publish/SftpClient.h"
#include "tests/support/ChildProcess.h"

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vela::test {

// A real OpenSSH server of the test's own on 127.0.0.1 and a free port: a host key and
// configuration of its own, SFTP only (internal-sftp), every account chrooted to a folder of its
// own whose /home is where the accounts start. root logs in with a key made for it; other
// accounts are made on request, with a password, and removed at the end.
class SshServer {
public:
    // Why no server can be run here (not root, no sshd, a folder the chroot rules refuse), or
    // empty.
    static std::string unavailable();

    // everyKeyType: RSA and ECDSA host keys besides the Ed25519 one, as a stock OpenSSH has.
    explicit SshServer(bool everyKeyType = false);
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    int port() const { return port_; }
    // The chroot, and the folder in it where "/~/" lands.
    std::filesystem::path root() const { return dir_ / "root"; }
    std::filesystem::path home() const { return root() / "home"; }
    std::filesystem::path downloads() const { return home() / "www" / "downloads"; }
    std::string hostKeyFingerprint() const { return fingerprint_; }
    // The line known_hosts would hold for this server.
    std::string knownHostsLine() const;
    // Key login as root, the host key given by its fingerprint.
    SftpSettings settings() const;

    // Makes an account with this password that may write under home(); its name, or nothing
    // (with why in *reason) when accounts cannot be made here.
    std::optional<std::string> addPasswordAccount(const std::string& password, std::string* reason);

    // A new key pair, unknown to the server; returns the private key's path.
    std::string makeKey(const std::string& name) const;

    // What `ssh-keyscan -p <port> 127.0.0.1` writes, its lines ordered as given by type (e.g.
    // {"ssh-rsa", "ssh-ed25519"}; types left out are dropped).
    std::string keyscan(const std::vector<std::string>& types) const;

    // Stops (SIGSTOP) or resumes every session process the server has forked so far, as a server
    // that stops answering after the login; new connections are still taken.
    void freezeSessions(bool frozen);

    // Stops the server and returns its log.
    std::string stopAndReadLog();

private:
    void start();

    std::filesystem::path dir_;
    std::optional<ChildProcess> process_;
    int port_ = 0;
    std::string fingerprint_;
    std::string publicKey_; // "ssh-ed25519 AAAA..." of the host key
    std::string account_;
    std::vector<pid_t> frozen_;
};

// The fingerprint of a public key file as ssh-keygen prints it.
std::string fingerprintOf(const std::string& publicKeyFile);

} // namespace vela::test
