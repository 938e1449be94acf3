#include "publish/SftpClient.h"

#include "common/Error.h"
#include "publish/CurlHandle.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <openssl/evp.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vela {
namespace {

constexpr const char* kConnectionGone = "The SFTP connection was closed before it was ended.";

constexpr size_t kReadBlock = 1024 * 1024;
constexpr int kWaitSliceMs = 50;

// A SHA-256 digest in base64 without its one '=' of padding.
constexpr size_t kFingerprintLength = 43;
constexpr std::string_view kFingerprintPrefix = "SHA256:";

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool isBase64(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The fingerprint as ssh-keygen prints it, from what an administrator pasted: the prefix is
// optional and so is the padding.
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

// A private key that others can read is no longer private; ssh refuses to use one, and so do we.
void checkKeyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw fileError("open", path, errno);
    struct stat status {};
    const int statted = ::fstat(fd, &status);
    const int error = errno;
    ::close(fd);
    if (statted != 0)
        throw fileError("open", path, error);
    if ((status.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        throw Error("Chave do SFTP recusada: \"" + path + "\" tem o modo " + mode +
                    "; uma chave privada não pode ser acessível a outros usuários além do dono "
                    "(chmod 600 \"" +
                    path + "\").");
    }
}

// curl reads known_hosts quietly and would take an unreadable file for an empty one.
void checkReadable(const std::string& path) {
    File file(std::fopen(path.c_str(), "rbe"));
    if (!file)
        throw fileError("open", path, errno);
}

// Every byte other than letters, digits, "-._~" and '/' percent-encoded, as curl decodes it.
void appendEncoded(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || c == '/') {
            out += c;
        } else {
            const auto b = static_cast<std::uint8_t>(c);
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
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

struct SftpClient::Session {
    explicit Session(SftpSettings s) : settings(std::move(s)) {}

    SftpSettings settings;
    CurlMulti multi; // first, so that it goes last, ending a connection still open
    std::optional<CurlHandle> curl;
    Waiting waiting;
    std::chrono::steady_clock::time_point lastWaited;

    std::FILE* source = nullptr;
    int readError = 0;
    const Progress* progress = nullptr;
    std::int64_t reported = 0;
    std::exception_ptr callbackError;

    // The fingerprint setting as ssh-keygen prints it; empty when not given.
    std::string expectedHostKey;
    // Why the host key was refused, for a message better than curl's.
    std::string hostKeyProblem;
    bool refusedConnection = false;

    CurlHandle& handle() {
        if (!multi) {
            multi.reset(curl_multi_init());
            if (!multi)
                throw Error("curl_multi_init failed", CURLE_FAILED_INIT);
        }
        if (!curl) {
            CurlHandle fresh;
            configure(fresh);
            curl = std::move(fresh);
        }
        return *curl;
    }

    void configure(CurlHandle& h) {
        // The settings are checked before anything goes on the network.
        const std::string expected = expectedFingerprint(settings.hostKeySha256);
        if (!settings.keyFile.empty())
            checkKeyFile(settings.keyFile);
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
            h.set(CURLOPT_SSH_KNOWNHOSTS, settings.knownHosts.c_str());
            h.set(CURLOPT_SSH_KEYFUNCTION, &Session::onKnownHost);
            h.set(CURLOPT_SSH_KEYDATA, this);
        } else {
            h.set(CURLOPT_SSH_HOSTKEYFUNCTION, &Session::onHostKey);
            h.set(CURLOPT_SSH_HOSTKEYDATA, this);
        }
        expectedHostKey = expected;
        h.set(CURLOPT_PROXY, "");
        h.set(CURLOPT_NOPROXY, "*");
        const long timeout = static_cast<long>(settings.replyTimeout.count());
        h.set(CURLOPT_CONNECTTIMEOUT, timeout);
        h.set(CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
        h.set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        h.set(CURLOPT_LOW_SPEED_TIME, timeout);
        h.set(CURLOPT_FTP_CREATE_MISSING_DIRS, long{CURLFTP_CREATE_DIR_NONE});
        h.set(CURLOPT_READFUNCTION, &Session::readSource);
        h.set(CURLOPT_READDATA, this);
        h.set(CURLOPT_XFERINFOFUNCTION, &Session::onProgress);
        h.set(CURLOPT_XFERINFODATA, this);
        h.set(CURLOPT_NOPROGRESS, 0L);
        // A directory listing or the answer to "pwd" would otherwise go to standard output.
        h.set(CURLOPT_WRITEFUNCTION, &Session::discard);
        h.set(CURLOPT_HEADERFUNCTION, &Session::discard);
        h.set(CURLOPT_OPENSOCKETDATA, this);
    }

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
        appendEncoded(u, root);
        if (path.empty() || path.front() != '/')
            u += '/';
        appendEncoded(u, path);
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

    CURLcode perform(CurlHandle& h) {
        h.clearError();
        callbackError = nullptr;
        hostKeyProblem.clear();
        CURLM* m = multi.get();
        if (const CURLMcode added = curl_multi_add_handle(m, h.get()); added != CURLM_OK)
            throw Error(curl_multi_strerror(added), CURLE_FAILED_INIT);
        struct Detach {
            CURLM* m;
            CURL* e;
            ~Detach() { curl_multi_remove_handle(m, e); }
        } detach{m, h.get()};
        for (int running = 1;;) {
            if (const CURLMcode mc = curl_multi_perform(m, &running); mc != CURLM_OK)
                throw Error(curl_multi_strerror(mc), CURLE_FAILED_INIT);
            rethrowParked();
            if (!running)
                break;
            int active = 0;
            if (const CURLMcode mc = curl_multi_poll(m, nullptr, 0, kWaitSliceMs, &active); mc != CURLM_OK)
                throw Error(curl_multi_strerror(mc), CURLE_FAILED_INIT);
            if (active == 0 && waiting)
                waiting();
        }
        CURLcode code = CURLE_OK;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(m, &left))
            if (message->msg == CURLMSG_DONE && message->easy_handle == h.get())
                code = message->data.result;
        return code;
    }

    void rethrowParked() {
        if (std::exception_ptr error = std::exchange(callbackError, nullptr))
            std::rethrow_exception(error);
    }

    // A request with no body: curl connects where it must, runs the commands set on the handle,
    // opens what the URL names and transfers nothing.
    CURLcode withoutBody(CurlHandle& h, std::string_view path) {
        h.set(CURLOPT_URL, url(path).c_str());
        h.set(CURLOPT_UPLOAD, 0L);
        h.set(CURLOPT_NOBODY, 1L);
        struct Reset {
            CurlHandle& h;
            ~Reset() { h.reset(CURLOPT_NOBODY, 0L); }
        } reset{h};
        return perform(h);
    }

    CURLcode command(const std::string& line) {
        CurlHandle& h = handle();
        CurlList list(curl_slist_append(nullptr, line.c_str()));
        if (!list)
            throw Error("curl_slist_append failed", CURLE_OUT_OF_MEMORY);
        h.set(CURLOPT_QUOTE, list.get());
        struct Reset {
            CurlHandle& h;
            ~Reset() { h.reset(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr)); }
        } reset{h};
        return withoutBody(h, "/");
    }

    Error failure(CURLcode code) const {
        if (!hostKeyProblem.empty())
            return Error(hostKeyProblem, code);
        if (std::string text = curl->errorText(); !text.empty())
            return Error(text, code);
        return Error(curl_easy_strerror(code), code);
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
            session->callbackError = std::current_exception();
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
            session->callbackError = std::current_exception();
            return CURLKHSTAT_REJECT;
        }
    }

    static size_t readSource(char* buffer, size_t size, size_t count, void* userp) {
        auto* session = static_cast<Session*>(userp);
        if (!session->source)
            return 0;
        const size_t read = std::fread(buffer, 1, size * count, session->source);
        if (read == 0 && std::ferror(session->source)) {
            session->readError = errno != 0 ? errno : EIO;
            return CURL_READFUNC_ABORT;
        }
        return read;
    }

    static size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

    static int onProgress(void* userp, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
        auto* session = static_cast<Session*>(userp);
        try {
            if (!session->progress || sent <= session->reported) {
                // curl runs parts of the SSH exchange inside one call, where only this callback
                // runs: the caller is serviced from here too, at the pace of the waiting slices.
                const auto now = std::chrono::steady_clock::now();
                if (session->waiting && now - session->lastWaited >= std::chrono::milliseconds(kWaitSliceMs)) {
                    session->lastWaited = now;
                    session->waiting();
                }
                return 0;
            }
            session->reported = sent;
            if (*session->progress)
                (*session->progress)(static_cast<std::int64_t>(sent));
        } catch (...) {
            // Exceptions must not cross curl's C frames: park it and abort the transfer.
            session->callbackError = std::current_exception();
            return 1;
        }
        return 0;
    }

    static curl_socket_t refuseSocket(void* userp, curlsocktype, curl_sockaddr*) {
        static_cast<Session*>(userp)->refusedConnection = true;
        return CURL_SOCKET_BAD;
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
    CurlHandle& h = s.handle();
    // The root folder opened and nothing read: curl connects, checks the host key, logs in and
    // keeps the connection.
    if (const CURLcode code = s.withoutBody(h, "/"); code != CURLE_OK)
        throw s.failure(code);
}

void SftpClient::store(const std::string& localPath, const std::string& remotePath, const Progress& progress) {
    Session& s = session();
    CurlHandle& h = s.handle();

    File file(std::fopen(localPath.c_str(), "rbe"));
    if (!file)
        throw fileError("open", localPath, errno);
    std::setvbuf(file.get(), nullptr, _IOFBF, kReadBlock);
    struct stat status {};
    if (::fstat(::fileno(file.get()), &status) != 0)
        throw fileError("open", localPath, errno);

    h.set(CURLOPT_URL, s.url(remotePath).c_str());
    h.set(CURLOPT_NOBODY, 0L);
    h.set(CURLOPT_UPLOAD, 1L);
    h.set(CURLOPT_APPEND, 0L);
    h.set(CURLOPT_RESUME_FROM_LARGE, curl_off_t{0});
    h.set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(status.st_size));

    s.source = file.get();
    s.readError = 0;
    s.progress = &progress;
    s.reported = 0;
    struct Reset {
        Session& s;
        ~Reset() {
            s.source = nullptr;
            s.progress = nullptr;
            s.curl->reset(CURLOPT_UPLOAD, 0L);
        }
    } reset{s};
    const CURLcode code = s.perform(h);

    if (s.readError != 0)
        throw fileError("read", localPath, s.readError, code);
    if (code != CURLE_OK)
        throw s.failure(code);
}

std::optional<std::int64_t> SftpClient::remoteSize(const std::string& remotePath) {
    Session& s = session();
    CurlHandle& h = s.handle();
    // Opening the file without reading it: curl asks its attributes, the size among them.
    if (const CURLcode code = s.withoutBody(h, remotePath); code != CURLE_OK)
        throw s.failure(code);
    curl_off_t length = -1;
    curl_easy_getinfo(h.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length < 0)
        return std::nullopt;
    return static_cast<std::int64_t>(length);
}

void SftpClient::rename(const std::string& from, const std::string& to) {
    Session& s = session();
    const CURLcode code = s.command("rename " + s.commandPath(from) + " " + s.commandPath(to));
    if (code == CURLE_OK)
        return;
    Error error = s.failure(code);
    if (code != CURLE_QUOTE_ERROR)
        throw error;
    // SFTP's plain rename says only "failure" when the target exists; asking after it tells that
    // case from the others.
    bool targetExists = false;
    try {
        targetExists = s.withoutBody(s.handle(), to) == CURLE_OK;
    } catch (const Error&) {
        // The rename's own error says more than the question's.
    }
    if (targetExists)
        throw RenameRefused(error.what(), error.code(), 0);
    throw error;
}

void SftpClient::remove(const std::string& remotePath) {
    Session& s = session();
    if (const CURLcode code = s.command("rm " + s.commandPath(remotePath)); code != CURLE_OK)
        throw s.failure(code);
}

void SftpClient::setWaiting(Waiting waiting) {
    session().waiting = std::move(waiting);
}

void SftpClient::quit() {
    Session& s = session();
    if (!s.curl)
        throw Error(kConnectionGone, CURLE_COULDNT_CONNECT);
    CurlHandle& h = *s.curl;
    // A harmless command on the open connection, which forbidding reuse makes curl end properly
    // afterwards. A dead connection would make curl quietly open a new one just for this; refusing
    // new sockets turns that into an error instead.
    h.set(CURLOPT_FORBID_REUSE, 1L);
    h.set(CURLOPT_OPENSOCKETFUNCTION, &Session::refuseSocket);
    s.refusedConnection = false;
    struct Reset {
        CurlHandle& h;
        ~Reset() {
            h.reset(CURLOPT_OPENSOCKETFUNCTION, static_cast<curl_opensocket_callback>(nullptr));
            h.reset(CURLOPT_FORBID_REUSE, 0L);
        }
    } reset{h};
    const CURLcode code = s.command("pwd");
    if (s.refusedConnection)
        throw Error(kConnectionGone, code);
    if (code != CURLE_OK)
        throw s.failure(code);
}

void SftpClient::close() noexcept {
    if (session_) {
        session_->curl.reset();
        session_->multi.reset();
    }
}

} // namespace vela
