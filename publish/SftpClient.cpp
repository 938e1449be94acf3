#include "publish/SftpClient.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/ScopeExit.h"
#include "publish/CurlSession.h"
#include "publish/FtpUrl.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <openssl/evp.h>
#include <optional>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vela {
namespace {

constexpr const char* kConnectionGone = "The SFTP connection was closed before it was ended.";

// A SHA-256 digest in base64 without its one '=' of padding.
constexpr size_t kFingerprintLength = 43;
constexpr std::string_view kFingerprintPrefix = "SHA256:";

bool isBase64(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// curl reads known_hosts quietly and would take an unreadable file for an empty one.
void checkReadable(const std::string& path) {
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        throw fileError("open", path, errno);
}

// How early a key type goes in the known_hosts curl reads: curl makes libssh2 ask the server for
// the type of the first entry for the host alone, and for an RSA key that is "ssh-rsa" (SHA-1),
// which OpenSSH 8.8 and later refuse ("Unable to exchange encryption keys"); ssh-keyscan writes the
// RSA line first. Any other type the file holds goes first, RSA only where nothing else is there.
constexpr int kLastRank = 3;

int typeRank(std::string_view line) {
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string_view::npos || line[at] == '#')
        return 2;
    // [@marker] hosts type key [comment]
    int field = line[at] == '@' ? 2 : 1;
    for (; field > 0 && at != std::string_view::npos; --field) {
        at = line.find_first_of(" \t", at);
        if (at != std::string_view::npos)
            at = line.find_first_not_of(" \t", at);
    }
    if (at == std::string_view::npos)
        return 2;
    const std::string_view type = line.substr(at, line.find_first_of(" \t", at) - at);
    if (type == "ssh-ed25519")
        return 0;
    if (type.starts_with("ecdsa-"))
        return 1;
    if (type == "ssh-rsa")
        return kLastRank;
    return 2;
}

// The known_hosts file with its lines in that order, as a file of this process only.
UniqueFd reorderedKnownHosts(const std::string& path) {
    const UniqueFd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in)
        throw fileError("open", path, errno);
    std::string bytes;
    char chunk[4096];
    for (ssize_t n; (n = ::read(in.get(), chunk, sizeof chunk)) != 0;) {
        if (n < 0 && errno != EINTR)
            throw fileError("read", path, errno);
        if (n > 0)
            bytes.append(chunk, static_cast<size_t>(n));
    }
    std::vector<std::string> lines;
    for (size_t from = 0; from < bytes.size();) {
        const size_t end = std::min(bytes.find('\n', from), bytes.size());
        lines.push_back(bytes.substr(from, end - from));
        from = end + 1;
    }
    // Rank by rank, each in the file's order (no std::stable_sort: its buffer would make the
    // program carry a copy of libstdc++'s std::nothrow, which the window's library cannot bind to).
    std::string text;
    for (int rank = 0; rank <= kLastRank; ++rank)
        for (const std::string& line : lines)
            if (typeRank(line) == rank)
                text += line + "\n";
    UniqueFd copy(::memfd_create("known_hosts", MFD_CLOEXEC));
    if (!copy || !writeAll(copy.get(), text))
        throw fileError("copy", path, errno);
    return copy;
}

// A path argument of curl's SFTP quote commands, quoted so that blanks and quotes survive.
std::string quoted(std::string_view path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

} // namespace

std::string expectedFingerprint(const std::string& setting) {
    if (setting.empty())
        return {};
    std::string_view digest = setting;
    if (digest.substr(0, kFingerprintPrefix.size()) == kFingerprintPrefix)
        digest.remove_prefix(kFingerprintPrefix.size());
    if (!digest.empty() && digest.back() == '=')
        digest.remove_suffix(1);
    bool valid = digest.size() == kFingerprintLength;
    for (char c : digest)
        valid = valid && isBase64(c);
    if (!valid)
        throw Error("Valor inválido em [ftp] host_key_sha256: " + setting + " (SHA256:... como mostra ssh-keygen -lf)");
    return std::string(kFingerprintPrefix) + std::string(digest);
}

void checkPrivateKey(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        throw fileError("open", path, errno);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        throw fileError("open", path, errno);
    if ((status.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        throw Error("Chave do SFTP recusada: \"" + path + "\" tem o modo " + mode +
                    "; uma chave privada não pode ser acessível a outros usuários além do dono "
                    "(chmod 600 \"" +
                    path + "\").");
    }
}

std::string sshFingerprint(const unsigned char* key, std::size_t length) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(key, length, digest, &digestLength, EVP_sha256(), nullptr) != 1)
        throw Error("SHA-256 of the host key failed");
    std::string text(4 * ((digestLength + 2) / 3) + 1, '\0');
    const int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), digest, static_cast<int>(digestLength));
    text.resize(static_cast<size_t>(written));
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    return std::string(kFingerprintPrefix) + text;
}

struct SftpClient::Session : CurlSession {
    explicit Session(SftpSettings s) : settings(std::move(s)) {
        host = settings.host;
        stallLimit = settings.replyTimeout;
    }

    SftpSettings settings;
    // The known_hosts curl reads: the setting's file, its key types reordered.
    UniqueFd knownHostsCopy;
    // The fingerprint setting as ssh-keygen prints it; empty when not given.
    std::string expectedHostKey;
    // Why the host key was refused, for a message better than curl's.
    std::string hostKeyProblem;

    void configure(CurlHandle& h) override {
        // The settings are checked before anything goes on the network.
        const std::string expected = expectedFingerprint(settings.hostKeySha256);
        if (!settings.keyFile.empty())
            checkPrivateKey(settings.keyFile);
        if (!settings.knownHosts.empty())
            checkReadable(settings.knownHosts);

        h.set(CURLOPT_PROTOCOLS_STR, "sftp");
        h.set(CURLOPT_USERNAME, settings.user.c_str());
        if (settings.keyFile.empty()) {
            h.set(CURLOPT_SSH_AUTH_TYPES, long{CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD});
            h.set(CURLOPT_PASSWORD, settings.password.c_str());
        } else {
            h.set(CURLOPT_SSH_AUTH_TYPES, long{CURLSSH_AUTH_PUBLICKEY});
            h.set(CURLOPT_SSH_PRIVATE_KEYFILE, settings.keyFile.c_str());
            // Empty: the public half is derived from the private key, not looked for beside it.
            h.set(CURLOPT_SSH_PUBLIC_KEYFILE, "");
        }
        // curl checks nothing unless told to. With a known_hosts file it matches the key and asks
        // us; without one it hands us the key. Either way the decision, and its message, are ours.
        if (!settings.knownHosts.empty()) {
            knownHostsCopy = reorderedKnownHosts(settings.knownHosts);
            h.set(CURLOPT_SSH_KNOWNHOSTS, ("/proc/self/fd/" + std::to_string(knownHostsCopy.get())).c_str());
            h.set(CURLOPT_SSH_KEYFUNCTION, &Session::onKnownHost);
            h.set(CURLOPT_SSH_KEYDATA, this);
        } else {
            h.set(CURLOPT_SSH_HOSTKEYFUNCTION, &Session::onHostKey);
            h.set(CURLOPT_SSH_HOSTKEYDATA, this);
        }
        expectedHostKey = expected;
        const long timeout = static_cast<long>(settings.replyTimeout.count());
        h.set(CURLOPT_CONNECTTIMEOUT, timeout);
        h.set(CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
        h.set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        h.set(CURLOPT_LOW_SPEED_TIME, timeout);
        h.set(CURLOPT_FTP_CREATE_MISSING_DIRS, long{CURLFTP_CREATE_DIR_NONE});
        if (settings.maxRate > 0)
            h.set(CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(settings.maxRate * 1024));
    }

    void beforeRequest() override { hostKeyProblem.clear(); }

    // The server as known_hosts names it.
    std::string hostName() const {
        if (settings.port == 22)
            return settings.host;
        return "[" + settings.host + "]:" + std::to_string(settings.port);
    }

    std::string url(std::string_view path) const {
        std::string u = "sftp://" + settings.host + ":" + std::to_string(settings.port);
        std::string_view root = settings.remoteRoot;
        while (!root.empty() && root.back() == '/')
            root.remove_suffix(1);
        if (settings.remoteRoot.empty())
            u += "/~"; // curl's name for the home folder
        else if (root.empty() || root.front() != '/')
            u += '/';
        u += escapedPath(root);
        if (path.empty() || path.front() != '/')
            u += '/';
        u += escapedPath(path);
        return u;
    }

    // The same place for a quote command, where curl takes the path as it is: relative paths are
    // the server's, from the account's home.
    std::string commandPath(std::string_view path) const {
        std::string_view root = settings.remoteRoot;
        while (!root.empty() && root.back() == '/')
            root.remove_suffix(1);
        while (!path.empty() && path.front() == '/')
            path.remove_prefix(1);
        if (settings.remoteRoot.empty())
            return quoted(path);
        return quoted(std::string(root.empty() || root.front() != '/' ? "/" : "") + std::string(root) + "/" +
                      std::string(path));
    }

    CURLcode command(const std::string& line, CurlTransfer& transfer) {
        CurlHandle& h = handle();
        CurlList list(curl_slist_append(nullptr, line.c_str()));
        if (!list)
            throw Error("curl_slist_append failed", CURLE_OUT_OF_MEMORY);
        h.set(CURLOPT_QUOTE, list.get());
        const ScopeExit reset([this] { unset(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr)); });
        return withoutBody(url("/"), transfer);
    }

    // A refused host key is ours to report and no new try cures it; what the server or the
    // network did is a TransferError, which a new try may.
    [[noreturn]] void fail(CURLcode code, const CurlTransfer& transfer) const {
        if (!hostKeyProblem.empty())
            throw Error(hostKeyProblem, code);
        if (std::string text = curl ? curl->errorText() : std::string(); !text.empty())
            throw TransferError(where(transfer) + text, code, 0);
        throw TransferError(where(transfer) + curl_easy_strerror(code), code, 0);
    }

    // Parks an exception thrown in a callback of curl's for the request running.
    void park() noexcept {
        if (current)
            current->callbackError = std::current_exception();
    }

    // Whether the key offered, with this fingerprint, may be trusted; else why not.
    bool trusted(const std::string& offered, std::string_view knownHostsVerdict) {
        const std::string prefix = "Chave do servidor SFTP recusada: " + hostName() + " oferece " + offered;
        if (!knownHostsVerdict.empty())
            hostKeyProblem = prefix + std::string(knownHostsVerdict);
        else if (settings.knownHosts.empty() && expectedHostKey.empty())
            hostKeyProblem = "Chave do servidor SFTP não verificada: " + hostName() + " oferece " + offered +
                             "; confira-a e informe-a em [ftp] host_key_sha256 ou num arquivo known_hosts.";
        else if (!expectedHostKey.empty() && offered != expectedHostKey)
            hostKeyProblem = prefix + ", diferente de [ftp] host_key_sha256 (" + expectedHostKey + ").";
        return hostKeyProblem.empty();
    }

    static int onHostKey(void* userp, int, const char* key, size_t length) {
        auto* session = static_cast<Session*>(userp);
        try {
            const std::string offered = sshFingerprint(reinterpret_cast<const unsigned char*>(key), length);
            return session->trusted(offered, {}) ? CURLKHMATCH_OK : CURLKHMATCH_MISMATCH;
        } catch (...) {
            session->park();
            return CURLKHMATCH_MISMATCH;
        }
    }

    static int onKnownHost(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch match, void* userp) {
        auto* session = static_cast<Session*>(userp);
        try {
            // curl hands over the server's key as it came, never as base64 (len 0).
            if (!found || found->len == 0)
                throw Error("curl did not give the SFTP server's host key", CURLE_PEER_FAILED_VERIFICATION);
            const std::string offered = sshFingerprint(reinterpret_cast<const unsigned char*>(found->key), found->len);
            const std::string file = "\"" + session->settings.knownHosts + "\"";
            std::string verdict;
            if (match == CURLKHMATCH_MISMATCH)
                verdict = ", diferente da registrada em " + file + ".";
            else if (match != CURLKHMATCH_OK)
                verdict = ", que não consta em " + file + ".";
            return session->trusted(offered, verdict) ? CURLKHSTAT_FINE : CURLKHSTAT_REJECT;
        } catch (...) {
            session->park();
            return CURLKHSTAT_REJECT;
        }
    }
};

SftpClient::SftpClient(SftpSettings settings) : session_(std::make_unique<Session>(std::move(settings))) {}
SftpClient::~SftpClient() = default;
SftpClient::SftpClient(SftpClient&&) noexcept = default;
SftpClient& SftpClient::operator=(SftpClient&&) noexcept = default;

SftpClient::Session& SftpClient::session() {
    if (!session_)
        throw Error("SFTP client used after being moved from");
    return *session_;
}

void SftpClient::connect() {
    Session& s = session();
    // The root folder opened and nothing read: curl connects, checks the host key, logs in and
    // keeps the connection.
    CurlTransfer transfer;
    if (const CURLcode code = s.withoutBody(s.url("/"), transfer); code != CURLE_OK)
        s.fail(code, transfer);
}

void SftpClient::store(const std::string& localPath, const std::string& remotePath, const Progress& progress) {
    Session& s = session();
    CurlTransfer transfer(remotePath);
    if (const CURLcode code = s.storeFile(localPath, s.url(remotePath), transfer, progress); code != CURLE_OK)
        s.fail(code, transfer);
}

std::optional<std::int64_t> SftpClient::remoteSize(const std::string& remotePath) {
    Session& s = session();
    // Opening the file without reading it: curl asks its attributes, the size among them.
    CurlTransfer transfer(remotePath);
    if (const CURLcode code = s.withoutBody(s.url(remotePath), transfer); code != CURLE_OK)
        s.fail(code, transfer);
    return s.contentLength();
}

std::optional<std::int64_t> SftpClient::remoteTime(const std::string& remotePath) {
    Session& s = session();
    CurlTransfer transfer(remotePath);
    if (const CURLcode code = s.withoutBody(s.url(remotePath), transfer, true); code != CURLE_OK)
        s.fail(code, transfer);
    return s.fileTime();
}

std::string SftpClient::read(const std::string& remotePath, std::size_t limit) {
    Session& s = session();
    CurlTransfer transfer(remotePath);
    std::string text;
    if (const CURLcode code = s.readFile(s.url(remotePath), transfer, text, limit); code != CURLE_OK)
        s.fail(code, transfer);
    return text;
}

void SftpClient::rename(const std::string& from, const std::string& to) {
    Session& s = session();
    CurlTransfer transfer(from);
    const CURLcode code = s.command("rename " + s.commandPath(from) + " " + s.commandPath(to), transfer);
    if (code == CURLE_OK)
        return;
    try {
        s.fail(code, transfer);
    } catch (const TransferError& error) {
        if (code != CURLE_QUOTE_ERROR)
            throw;
        // SFTP's plain rename says only "failure" when the target exists; asking after it tells
        // that case from the others.
        bool targetExists = false;
        try {
            CurlTransfer question(to);
            targetExists = s.withoutBody(s.url(to), question) == CURLE_OK;
        } catch (const TransferError&) {
            // The rename's own error says more than the question's.
        }
        if (targetExists)
            throw RenameRefused(error.what(), error.code(), 0);
        throw;
    }
}

void SftpClient::remove(const std::string& remotePath) {
    Session& s = session();
    CurlTransfer transfer(remotePath);
    if (const CURLcode code = s.command("rm " + s.commandPath(remotePath), transfer); code != CURLE_OK)
        s.fail(code, transfer);
}

std::vector<std::string> SftpClient::list(const std::string& folder) {
    Session& s = session();
    std::vector<std::string> names;
    // A URL that ends in '/' names a folder, which curl lists; with DIRLISTONLY, names alone.
    CurlTransfer transfer(folder.empty() || folder.back() != '/' ? folder + '/' : folder);
    if (const CURLcode code = s.listNames(s.url(transfer.path), transfer, names); code != CURLE_OK)
        s.fail(code, transfer);
    return names;
}

bool SftpClient::encrypted() const {
    return true;
}

void SftpClient::setWaiting(Waiting waiting) {
    session().waiting = std::move(waiting);
}

void SftpClient::quit() {
    Session& s = session();
    // A harmless command, the last on the open connection, which curl then ends properly.
    CurlTransfer transfer;
    if (const CURLcode code = s.lastRequest(kConnectionGone, [&] { return s.command("pwd", transfer); });
        code != CURLE_OK)
        s.fail(code, transfer);
}

void SftpClient::close() noexcept {
    if (session_)
        session_->close();
}

void SftpClient::abort() noexcept {
    if (session_)
        session_->abort();
}

} // namespace vela
