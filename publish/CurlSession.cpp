#include "publish/CurlSession.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/ScopeExit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vela {
namespace {

// The file is read from the disk in large blocks; curl takes it 64 KiB at a time (its own buffer,
// which on loopback sent faster than a 1 MiB one) and reports progress at each.
constexpr size_t kReadBlock = 1024 * 1024;

// While the server is awaited the caller is serviced at least this often.
constexpr int kWaitSliceMs = 50;

} // namespace

CurlHandle& CurlSession::handle() {
    if (!multi) {
        multi.reset(curl_multi_init());
        if (!multi)
            throw Error("curl_multi_init failed", CURLE_FAILED_INIT);
    }
    if (!curl) {
        CurlHandle fresh;
        configure(fresh);
        // Ignore any proxy the environment names: the server is reached directly.
        fresh.set(CURLOPT_PROXY, "");
        fresh.set(CURLOPT_NOPROXY, "*");
        fresh.set(CURLOPT_READFUNCTION, &CurlSession::readSource);
        fresh.set(CURLOPT_READDATA, this);
        fresh.set(CURLOPT_XFERINFOFUNCTION, &CurlSession::onProgress);
        fresh.set(CURLOPT_XFERINFODATA, this);
        fresh.set(CURLOPT_NOPROGRESS, 0L);
        // Without these curl prints what it "downloads" to standard output: FTP's SIZE as
        // header-like lines ("Content-Length: ..."), a listing, the answer to SFTP's "pwd".
        fresh.set(CURLOPT_WRITEFUNCTION, &CurlSession::collect);
        fresh.set(CURLOPT_WRITEDATA, this);
        fresh.set(CURLOPT_HEADERFUNCTION, &CurlSession::discard);
        fresh.set(CURLOPT_OPENSOCKETFUNCTION, &CurlSession::openSocket);
        fresh.set(CURLOPT_OPENSOCKETDATA, this);
        fresh.set(CURLOPT_CLOSESOCKETFUNCTION, &CurlSession::closeSocket);
        fresh.set(CURLOPT_CLOSESOCKETDATA, this);
        curl = std::move(fresh);
    }
    return *curl;
}

CURLcode CurlSession::perform(CurlHandle& h) {
    beforeRequest();
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

CURLcode CurlSession::withoutBody(CurlHandle& h, const std::string& url) {
    h.set(CURLOPT_URL, url.c_str());
    h.set(CURLOPT_UPLOAD, 0L);
    h.set(CURLOPT_NOBODY, 1L);
    const ScopeExit reset([&h] { h.reset(CURLOPT_NOBODY, 0L); });
    return perform(h);
}

CURLcode CurlSession::storeFile(CurlHandle& h, const std::string& localPath, const std::string& url,
                                const UploadTransport::Progress& onSent) {
    UniqueFile file(std::fopen(localPath.c_str(), "rbe"));
    if (!file)
        throw fileError("open", localPath, errno);
    std::setvbuf(file.get(), nullptr, _IOFBF, kReadBlock);
    struct stat status {};
    if (::fstat(::fileno(file.get()), &status) != 0)
        throw fileError("open", localPath, errno);

    h.set(CURLOPT_URL, url.c_str());
    h.set(CURLOPT_NOBODY, 0L);
    h.set(CURLOPT_UPLOAD, 1L);
    h.set(CURLOPT_APPEND, 0L);
    h.set(CURLOPT_RESUME_FROM_LARGE, curl_off_t{0});
    h.set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(status.st_size));

    source = file.get();
    readError = 0;
    progress = &onSent;
    reported = 0;
    const ScopeExit reset([this] {
        source = nullptr;
        progress = nullptr;
        if (curl)
            curl->reset(CURLOPT_UPLOAD, 0L);
    });
    CURLcode code = CURLE_OK;
    try {
        code = perform(h);
    } catch (...) {
        // Stopped by the caller, possibly while curl awaited the server's last word with the data
        // still on its way: a connection kept for the next command would be answered only after
        // the server has read the whole file.
        abort();
        throw;
    }
    if (readError != 0)
        throw fileError("read", localPath, readError, code);
    return code;
}

CURLcode CurlSession::listNames(CurlHandle& h, const std::string& url, std::vector<std::string>& names) {
    std::string text;
    h.set(CURLOPT_URL, url.c_str());
    h.set(CURLOPT_UPLOAD, 0L);
    h.set(CURLOPT_NOBODY, 0L);
    h.set(CURLOPT_DIRLISTONLY, 1L);
    listing = &text;
    const ScopeExit reset([this] {
        listing = nullptr;
        if (curl)
            curl->reset(CURLOPT_DIRLISTONLY, 0L);
    });
    if (const CURLcode code = perform(h); code != CURLE_OK)
        return code;
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
        if (!name.empty() && name != "." && name != "..")
            names.push_back(std::move(name));
        from = end + 1;
    }
    return CURLE_OK;
}

CURLcode CurlSession::lastRequest(const char* gone, const std::function<CURLcode(CurlHandle&)>& request) {
    if (!curl)
        throw Error(gone, CURLE_COULDNT_CONNECT);
    CurlHandle& h = *curl;
    h.set(CURLOPT_FORBID_REUSE, 1L);
    refuseSockets = true;
    refusedConnection = false;
    const ScopeExit reset([this] {
        refuseSockets = false;
        if (curl)
            curl->reset(CURLOPT_FORBID_REUSE, 0L);
    });
    const CURLcode code = request(h);
    if (refusedConnection)
        throw Error(gone, code);
    return code;
}

std::optional<std::int64_t> CurlSession::contentLength(CurlHandle& h) {
    curl_off_t length = -1;
    curl_easy_getinfo(h.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length < 0)
        return std::nullopt;
    return static_cast<std::int64_t>(length);
}

void CurlSession::abort() noexcept {
    for (curl_socket_t socket : sockets) {
        const linger reset{1, 0};
        ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::shutdown(socket, SHUT_RDWR);
    }
    close();
}

void CurlSession::close() noexcept {
    curl.reset();
    multi.reset();
}

void CurlSession::rethrowParked() {
    if (std::exception_ptr error = std::exchange(callbackError, nullptr))
        std::rethrow_exception(error);
}

size_t CurlSession::readSource(char* buffer, size_t size, size_t count, void* userp) {
    auto* session = static_cast<CurlSession*>(userp);
    if (!session->source)
        return 0;
    const size_t read = std::fread(buffer, 1, size * count, session->source);
    if (read == 0 && std::ferror(session->source)) {
        session->readError = errno != 0 ? errno : EIO;
        return CURL_READFUNC_ABORT;
    }
    return read;
}

size_t CurlSession::discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

size_t CurlSession::collect(char* data, size_t size, size_t count, void* userp) {
    auto* session = static_cast<CurlSession*>(userp);
    if (session->listing) {
        try {
            session->listing->append(data, size * count);
        } catch (...) {
            return 0;
        }
    }
    return size * count;
}

int CurlSession::onProgress(void* userp, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
    auto* session = static_cast<CurlSession*>(userp);
    try {
        if (!session->progress || sent <= session->reported) {
            // curl awaits an FTP store's final reply, and runs parts of the SSH exchange, inside
            // one call, where only this callback runs: the caller is serviced from here too, at
            // the pace of the waiting slices.
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

curl_socket_t CurlSession::openSocket(void* userp, curlsocktype, curl_sockaddr* address) {
    auto* session = static_cast<CurlSession*>(userp);
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

int CurlSession::closeSocket(void* userp, curl_socket_t socket) {
    std::vector<curl_socket_t>& sockets = static_cast<CurlSession*>(userp)->sockets;
    sockets.erase(std::remove(sockets.begin(), sockets.end(), socket), sockets.end());
    return ::close(socket);
}

} // namespace vela
