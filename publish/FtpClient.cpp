#include "publish/FtpClient.h"

#include "common/Error.h"
#include "publish/CurlHandle.h"
#include "publish/FtpReplies.h"
#include "publish/FtpUrl.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vela {
namespace {

constexpr const char* kConnectionGone = "The FTP connection was closed before QUIT.";
constexpr const char* kQuitUnanswered = "The FTP server did not answer QUIT.";

// The file is read from the disk in large blocks; curl takes it 64 KiB at a time (its own buffer,
// which on loopback sent faster than a 1 MiB one) and reports progress at each.
constexpr size_t kReadBlock = 1024 * 1024;

// While the server is awaited the caller is serviced at least this often.
constexpr int kWaitSliceMs = 50;

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The code at the start of a server's reply ("550 ..."), 0 when there is none.
int replyCode(const std::string& reply) {
    if (reply.size() < 3 || !std::all_of(reply.begin(), reply.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return std::stoi(reply.substr(0, 3));
}

} // namespace

bool FtpError::transient() const noexcept {
    if (code() == CURLE_LOGIN_DENIED)
        return false;
    if (reply_ != 0)
        return reply_ >= 400 && reply_ < 500;
    switch (code()) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_UPLOAD_FAILED:
    case CURLE_FTP_WEIRD_SERVER_REPLY:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_SSL_CONNECT_ERROR:
        return true;
    default:
        return false;
    }
}

struct FtpClient::Session {
    explicit Session(FtpSettings s) : settings(std::move(s)) { handle(); }

    FtpSettings settings;
    // Every socket curl opened and has not closed yet, so that abort() can reset them. Declared
    // before the multi handle, which closes the last of them when it goes.
    std::vector<curl_socket_t> sockets;
    // Keeps the connection between requests. Ours rather than the one curl_easy_perform makes, so
    // that the waits for the server come in short slices with the caller serviced between them.
    // Declared first so that it goes last, saying QUIT on a connection still open.
    CurlMulti multi;
    std::optional<CurlHandle> curl; // empty after close(); made again on the next use
    FtpReplies replies;
    Waiting waiting;
    std::chrono::steady_clock::time_point lastWaited;

    // Set only while a store runs.
    std::FILE* source = nullptr;
    int readError = 0;
    const Progress* progress = nullptr;
    std::int64_t reported = 0;
    std::exception_ptr callbackError;

    // Set only while quitting: the connection to say QUIT on must be the one already open.
    bool refuseSockets = false;
    bool refusedConnection = false;

    // Set only while listing a folder.
    std::string* listing = nullptr;

    // Whether the server took AUTH on the connection last opened.
    bool tlsTaken = false;

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
        h.set(CURLOPT_PROTOCOLS_STR, "ftp");
        h.set(CURLOPT_USERNAME, settings.user.c_str());
        h.set(CURLOPT_PASSWORD, settings.password.c_str());
        h.set(CURLOPT_IPRESOLVE, long{CURL_IPRESOLVE_V4});
        // Ignore any proxy the environment names: the server is reached directly.
        h.set(CURLOPT_PROXY, "");
        h.set(CURLOPT_NOPROXY, "*");
        h.set(CURLOPT_TCP_KEEPALIVE, 0L);
        const long timeout = static_cast<long>(settings.replyTimeout.count());
        h.set(CURLOPT_CONNECTTIMEOUT, timeout);
        h.set(CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
        // A data connection on which the server stops taking bytes would otherwise hang forever.
        h.set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        h.set(CURLOPT_LOW_SPEED_TIME, timeout);
        // Passive mode (no FTPPORT) with the plain IPv4 PASV command.
        h.set(CURLOPT_FTPPORT, static_cast<const char*>(nullptr));
        h.set(CURLOPT_FTP_USE_EPSV, 0L);
        // One STOR of the full path: no CWD walk, and no folder is ever created.
        h.set(CURLOPT_FTP_FILEMETHOD, long{CURLFTPMETHOD_NOCWD});
        h.set(CURLOPT_FTP_CREATE_MISSING_DIRS, long{CURLFTP_CREATE_DIR_NONE});
        // TYPE I: the database file must arrive byte for byte.
        h.set(CURLOPT_TRANSFERTEXT, 0L);
        // The server's replies reach us only through the debug stream, which needs VERBOSE; with a
        // debug function set nothing is printed.
        h.set(CURLOPT_DEBUGFUNCTION, &Session::onDebug);
        h.set(CURLOPT_DEBUGDATA, this);
        h.set(CURLOPT_VERBOSE, 1L);
        h.set(CURLOPT_READFUNCTION, &Session::readSource);
        h.set(CURLOPT_READDATA, this);
        h.set(CURLOPT_XFERINFOFUNCTION, &Session::onProgress);
        h.set(CURLOPT_XFERINFODATA, this);
        h.set(CURLOPT_NOPROGRESS, 0L);
        // Without these curl prints what it "downloads" to standard output: for SIZE, header-like
        // lines ("Content-Length: ...").
        h.set(CURLOPT_WRITEFUNCTION, &Session::collect);
        h.set(CURLOPT_WRITEDATA, this);
        h.set(CURLOPT_HEADERFUNCTION, &Session::discard);
        h.set(CURLOPT_USE_SSL, settings.tls == FtpSettings::Tls::Require ? long{CURLUSESSL_ALL}
                               : settings.tls == FtpSettings::Tls::Try   ? long{CURLUSESSL_TRY}
                                                                         : long{CURLUSESSL_NONE});
        h.set(CURLOPT_FTPSSLAUTH, long{CURLFTPAUTH_TLS});
        if (!settings.caFile.empty())
            h.set(CURLOPT_CAINFO, settings.caFile.c_str());
        if (settings.maxRate > 0)
            h.set(CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(settings.maxRate * 1024));
        h.set(CURLOPT_OPENSOCKETFUNCTION, &Session::openSocket);
        h.set(CURLOPT_OPENSOCKETDATA, this);
        h.set(CURLOPT_CLOSESOCKETFUNCTION, &Session::closeSocket);
        h.set(CURLOPT_CLOSESOCKETDATA, this);
    }

    std::string url(std::string_view path) const { return ftpUrl(settings.host, settings.port, path); }

    // An exception parked by a callback, or thrown by waiting, comes out here unchanged; leaving
    // early aborts the request.
    CURLcode perform(CurlHandle& h) {
        replies.clear();
        h.clearError();
        callbackError = nullptr;
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

    // A request with no body on the root folder (so no CWD), sending commands after the login.
    CURLcode command(std::initializer_list<std::string> lines) {
        CurlHandle& h = handle();
        CurlList list;
        for (const std::string& line : lines) {
            curl_slist* longer = curl_slist_append(list.get(), line.c_str());
            if (!longer)
                throw Error("curl_slist_append failed", CURLE_OUT_OF_MEMORY);
            (void)list.release();
            list.reset(longer);
        }
        h.set(CURLOPT_QUOTE, list.get());
        struct Reset {
            CurlHandle& h;
            ~Reset() { h.reset(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr)); }
        } reset{h};
        return withoutBody(h, "/");
    }

    // A request with no body: curl connects and logs in where it must, runs the commands set on
    // the handle, and transfers nothing.
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

    FtpError failure(CURLcode code) const {
        if (std::optional<std::string> refusal = replies.refusal())
            return FtpError(*refusal, code, replyCode(*refusal));
        if (std::string text = curl->errorText(); !text.empty())
            return FtpError(text, code, 0);
        return FtpError(curl_easy_strerror(code), code, 0);
    }

    // Resets the sockets, so that curl's QUIT on them fails at once instead of waiting for a
    // server that may be busy reading a transfer to its end, then lets curl close them.
    void abort() noexcept {
        for (curl_socket_t socket : sockets) {
            const linger reset{1, 0};
            ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ::shutdown(socket, SHUT_RDWR);
        }
        curl.reset();
        multi.reset();
    }

    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* userp) {
        auto* session = static_cast<Session*>(userp);
        try {
            FtpReplies& replies = session->replies;
            if (type == CURLINFO_HEADER_OUT) {
                replies.commandSent(std::string_view(data, size));
            } else if (type == CURLINFO_HEADER_IN) {
                replies.received(std::string_view(data, size));
                // curl asks AUTH TLS, then AUTH SSL, before it logs in; the last answer decides.
                if (replies.lastCommand() == "AUTH" && replies.answered())
                    session->tlsTaken = replies.code() < 400;
            }
        } catch (...) {
            // Only bookkeeping for messages is lost; the transfer itself is not affected.
        }
        return 0;
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

    static size_t collect(char* data, size_t size, size_t count, void* userp) {
        auto* session = static_cast<Session*>(userp);
        if (session->listing) {
            try {
                session->listing->append(data, size * count);
            } catch (...) {
                return 0;
            }
        }
        return size * count;
    }

    static int onProgress(void* userp, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
        auto* session = static_cast<Session*>(userp);
        try {
            if (!session->progress || sent <= session->reported) {
                // curl awaits a store's final reply inside one call, where only this callback
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

    static curl_socket_t openSocket(void* userp, curlsocktype, curl_sockaddr* address) {
        auto* session = static_cast<Session*>(userp);
        if (session->refuseSockets) {
            session->refusedConnection = true;
            return CURL_SOCKET_BAD;
        }
        const curl_socket_t socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (socket == CURL_SOCKET_BAD)
            return socket;
        try {
            session->sockets.push_back(socket);
        } catch (...) {
            ::close(socket);
            return CURL_SOCKET_BAD;
        }
        return socket;
    }

    static int closeSocket(void* userp, curl_socket_t socket) {
        std::vector<curl_socket_t>& sockets = static_cast<Session*>(userp)->sockets;
        sockets.erase(std::remove(sockets.begin(), sockets.end(), socket), sockets.end());
        return ::close(socket);
    }
};

FtpClient::FtpClient(FtpSettings settings) : session_(std::make_unique<Session>(std::move(settings))) {}
FtpClient::~FtpClient() = default;
FtpClient::FtpClient(FtpClient&&) noexcept = default;
FtpClient& FtpClient::operator=(FtpClient&&) noexcept = default;

FtpClient::Session& FtpClient::session() {
    if (!session_)
        throw Error("FTP client used after being moved from");
    return *session_;
}

void FtpClient::connect() {
    Session& s = session();
    CurlHandle& h = s.handle();
    // A request for the root folder with no body: curl connects, logs in and keeps the connection
    // for the next request. The root is given as an absolute path so that no CWD is sent.
    if (const CURLcode code = s.withoutBody(h, "/"); code != CURLE_OK)
        throw s.failure(code);
}

void FtpClient::store(const std::string& localPath, const std::string& remotePath, const Progress& progress) {
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
            if (s.curl)
                s.curl->reset(CURLOPT_UPLOAD, 0L);
        }
    } reset{s};
    CURLcode code = CURLE_OK;
    try {
        code = s.perform(h);
    } catch (...) {
        // Stopped by the caller, possibly while curl awaited the final reply with the data
        // connection closed: curl would keep the control connection for the next command, which
        // the server answers only after it has read the whole file.
        s.abort();
        throw;
    }

    if (s.readError != 0)
        throw fileError("read", localPath, s.readError, code);
    if (code != CURLE_OK)
        throw s.failure(code);
}

std::optional<std::int64_t> FtpClient::remoteSize(const std::string& remotePath) {
    Session& s = session();
    CurlHandle& h = s.handle();
    // A request for the file with no body: curl asks SIZE (and MDTM) and transfers nothing.
    const CURLcode code = s.withoutBody(h, remotePath);
    if (code != CURLE_OK) {
        // A server that knows no SIZE (500, 502) is taken at its word for the store.
        if (s.replies.lastCommand() == "SIZE" && (s.replies.code() == 500 || s.replies.code() == 502))
            return std::nullopt;
        throw s.failure(code);
    }
    curl_off_t length = -1;
    curl_easy_getinfo(h.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length < 0)
        return std::nullopt;
    return static_cast<std::int64_t>(length);
}

void FtpClient::rename(const std::string& from, const std::string& to) {
    Session& s = session();
    const CURLcode code = s.command({"RNFR " + from, "RNTO " + to});
    if (code == CURLE_OK)
        return;
    FtpError error = s.failure(code);
    if (code == CURLE_QUOTE_ERROR && s.replies.lastCommand() == "RNTO")
        throw RenameRefused(error.what(), error.code(), error.reply());
    throw error;
}

void FtpClient::remove(const std::string& remotePath) {
    Session& s = session();
    if (const CURLcode code = s.command({"DELE " + remotePath}); code != CURLE_OK)
        throw s.failure(code);
}

std::vector<std::string> FtpClient::list(const std::string& folder) {
    Session& s = session();
    CurlHandle& h = s.handle();
    std::string text;
    h.set(CURLOPT_URL, s.url(folder.empty() || folder.back() != '/' ? folder + '/' : folder).c_str());
    h.set(CURLOPT_UPLOAD, 0L);
    h.set(CURLOPT_NOBODY, 0L);
    h.set(CURLOPT_DIRLISTONLY, 1L);
    s.listing = &text;
    struct Reset {
        Session& s;
        ~Reset() {
            s.listing = nullptr;
            if (s.curl)
                s.curl->reset(CURLOPT_DIRLISTONLY, 0L);
        }
    } reset{s};
    if (const CURLcode code = s.perform(h); code != CURLE_OK)
        throw s.failure(code);
    std::vector<std::string> names;
    for (size_t from = 0; from < text.size();) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        std::string name = text.substr(from, end - from);
        if (!name.empty() && name.back() == '\r')
            name.pop_back();
        // Some servers answer with the folder in front of each name.
        if (const size_t slash = name.rfind('/'); slash != std::string::npos)
            name.erase(0, slash + 1);
        if (!name.empty())
            names.push_back(std::move(name));
        from = end + 1;
    }
    return names;
}

bool FtpClient::encrypted() const {
    return session_ && session_->tlsTaken;
}

void FtpClient::setWaiting(Waiting waiting) {
    session().waiting = std::move(waiting);
}

void FtpClient::quit() {
    Session& s = session();
    if (!s.curl)
        throw Error(kConnectionGone, CURLE_COULDNT_CONNECT);
    CurlHandle& h = *s.curl;

    // curl says QUIT when it closes a connection, and forbidding reuse makes it close the one this
    // empty request runs on while the replies still reach our debug stream. A dead connection
    // would make curl quietly open and log in on a new one just to quit it; refusing new sockets
    // turns that into an error instead.
    h.set(CURLOPT_FORBID_REUSE, 1L);
    s.refuseSockets = true;
    s.refusedConnection = false;
    struct Reset {
        Session& s;
        ~Reset() {
            s.refuseSockets = false;
            if (s.curl)
                s.curl->reset(CURLOPT_FORBID_REUSE, 0L);
        }
    } reset{s};
    const CURLcode code = s.withoutBody(h, "/");

    if (s.refusedConnection)
        throw Error(kConnectionGone, code);
    if (code != CURLE_OK)
        throw s.failure(code);
    const FtpReplies& replies = s.replies;
    if (replies.lastCommand() != "QUIT")
        throw Error(kConnectionGone, code);
    if (!replies.answered())
        throw Error(kQuitUnanswered, code);
    if (replies.code() >= 400)
        throw Error(replies.text(), code);
}

void FtpClient::close() noexcept {
    if (session_) {
        session_->curl.reset();
        session_->multi.reset();
    }
}

void FtpClient::abort() noexcept {
    if (session_)
        session_->abort();
}

} // namespace vela
