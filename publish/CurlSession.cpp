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

// The request running; null while curl closes a connection between requests (a QUIT at clean-up).
CurlTransfer* running(void* userp) {
    return static_cast<CurlSession*>(userp)->current;
}

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

CURLcode CurlSession::perform(CurlTransfer& transfer) {
    CurlHandle& h = handle();
    beforeRequest();
    h.clearError();
    transfer.lastMoved = std::chrono::steady_clock::now();
    transfer.stalled = false;
    CURLM* m = multi.get();
    {
        if (const CURLMcode added = curl_multi_add_handle(m, h.get()); added != CURLM_OK)
            throw Error(curl_multi_strerror(added), CURLE_FAILED_INIT);
        current = &transfer;
        const ScopeExit detach([this, m, e = h.get()] {
            curl_multi_remove_handle(m, e);
            current = nullptr;
        });
        for (int running = 1;;) {
            if (const CURLMcode mc = curl_multi_perform(m, &running); mc != CURLM_OK)
                throw Error(curl_multi_strerror(mc), CURLE_FAILED_INIT);
            if (transfer.stalled || stalledNow(transfer))
                break;
            if (std::exception_ptr error = std::exchange(transfer.callbackError, nullptr))
                std::rethrow_exception(error);
            if (!running) {
                CURLcode code = CURLE_OK;
                int left = 0;
                while (CURLMsg* message = curl_multi_info_read(m, &left))
                    if (message->msg == CURLMSG_DONE && message->easy_handle == h.get())
                        code = message->data.result;
                return code;
            }
            int active = 0;
            if (const CURLMcode mc = curl_multi_poll(m, nullptr, 0, kWaitSliceMs, &active); mc != CURLM_OK)
                throw Error(curl_multi_strerror(mc), CURLE_FAILED_INIT);
            if (active == 0 && waiting)
                waiting();
        }
    }
    // The server went quiet in the middle of an exchange: the connection is in no state to carry
    // another request, and what curl would say when closing it would wait on it too.
    abort();
    throw TransferError(where(transfer) + "Operation timed out after " + std::to_string(stallLimit.count() / 1000) +
                            " s without a byte moving",
                        CURLE_OPERATION_TIMEDOUT, 0);
}

bool CurlSession::stalledNow(CurlTransfer& transfer) const {
    transfer.stalled = transfer.stalled || std::chrono::steady_clock::now() - transfer.lastMoved > stallLimit;
    return transfer.stalled;
}

CURLcode CurlSession::withoutBody(const std::string& url, CurlTransfer& transfer, bool fileTime) {
    CurlHandle& h = handle();
    h.set(CURLOPT_URL, url.c_str());
    h.set(CURLOPT_UPLOAD, 0L);
    h.set(CURLOPT_NOBODY, 1L);
    h.set(CURLOPT_FILETIME, fileTime ? 1L : 0L);
    const ScopeExit reset([this] {
        unset(CURLOPT_NOBODY, 0L);
        unset(CURLOPT_FILETIME, 0L);
    });
    return perform(transfer);
}

CURLcode CurlSession::storeFile(const std::string& localPath, const std::string& url, CurlTransfer& transfer,
                                const UploadTransport::Progress& onSent) {
    UniqueFile file(std::fopen(localPath.c_str(), "rbe"));
    if (!file)
        throw fileError("open", localPath, errno);
    std::setvbuf(file.get(), nullptr, _IOFBF, kReadBlock);
    struct stat status {};
    if (::fstat(::fileno(file.get()), &status) != 0)
        throw fileError("open", localPath, errno);

    CurlHandle& h = handle();
    h.set(CURLOPT_URL, url.c_str());
    h.set(CURLOPT_NOBODY, 0L);
    h.set(CURLOPT_UPLOAD, 1L);
    h.set(CURLOPT_APPEND, 0L);
    h.set(CURLOPT_RESUME_FROM_LARGE, curl_off_t{0});
    h.set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(status.st_size));

    transfer.source = file.get();
    transfer.progress = &onSent;
    const ScopeExit reset([this] { unset(CURLOPT_UPLOAD, 0L); });
    CURLcode code = CURLE_OK;
    try {
        code = perform(transfer);
    } catch (...) {
        // Stopped by the caller, possibly while curl awaited the server's last word with the data
        // still on its way: a connection kept for the next command would be answered only after
        // the server has read the whole file.
        abort();
        throw;
    }
    if (transfer.readError != 0)
        throw fileError("read", localPath, transfer.readError, code);
    return code;
}

CURLcode CurlSession::readFile(const std::string& url, CurlTransfer& transfer, std::string& text, std::size_t limit) {
    CurlHandle& h = handle();
    h.set(CURLOPT_URL, url.c_str());
    h.set(CURLOPT_UPLOAD, 0L);
    h.set(CURLOPT_NOBODY, 0L);
    transfer.body = &text;
    transfer.bodyLimit = limit;
    return perform(transfer);
}

CURLcode CurlSession::listNames(const std::string& url, CurlTransfer& transfer, std::vector<std::string>& names) {
    std::string text;
    CurlHandle& h = handle();
    h.set(CURLOPT_URL, url.c_str());
    h.set(CURLOPT_UPLOAD, 0L);
    h.set(CURLOPT_NOBODY, 0L);
    h.set(CURLOPT_DIRLISTONLY, 1L);
    transfer.body = &text;
    const ScopeExit reset([this] { unset(CURLOPT_DIRLISTONLY, 0L); });
    if (const CURLcode code = perform(transfer); code != CURLE_OK)
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

CURLcode CurlSession::lastRequest(const char* gone, const std::function<CURLcode()>& request) {
    if (!curl)
        throw Error(gone, CURLE_COULDNT_CONNECT);
    curl->set(CURLOPT_FORBID_REUSE, 1L);
    refuseSockets = true;
    refusedConnection = false;
    const ScopeExit reset([this] {
        refuseSockets = false;
        unset(CURLOPT_FORBID_REUSE, 0L);
    });
    const CURLcode code = request();
    if (refusedConnection)
        throw Error(gone, code);
    return code;
}

std::optional<std::int64_t> CurlSession::contentLength() {
    curl_off_t length = -1;
    if (curl)
        curl_easy_getinfo(curl->get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (length < 0)
        return std::nullopt;
    return static_cast<std::int64_t>(length);
}

std::optional<std::int64_t> CurlSession::fileTime() {
    curl_off_t time = -1;
    if (curl)
        curl_easy_getinfo(curl->get(), CURLINFO_FILETIME_T, &time);
    if (time < 0)
        return std::nullopt;
    return static_cast<std::int64_t>(time);
}

std::string CurlSession::where(const CurlTransfer& transfer) const {
    return host + ": " + (transfer.path.empty() ? std::string() : transfer.path + ": ");
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

size_t CurlSession::readSource(char* buffer, size_t size, size_t count, void* userp) {
    CurlTransfer* transfer = running(userp);
    if (!transfer || !transfer->source)
        return 0;
    const size_t read = std::fread(buffer, 1, size * count, transfer->source);
    if (read == 0 && std::ferror(transfer->source)) {
        transfer->readError = errno != 0 ? errno : EIO;
        return CURL_READFUNC_ABORT;
    }
    return read;
}

size_t CurlSession::discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

size_t CurlSession::collect(char* data, size_t size, size_t count, void* userp) {
    CurlTransfer* transfer = running(userp);
    if (transfer && transfer->body) {
        if (transfer->bodyLimit != 0 && transfer->body->size() + size * count > transfer->bodyLimit)
            return 0;
        try {
            transfer->body->append(data, size * count);
        } catch (...) {
            return 0;
        }
    }
    return size * count;
}

int CurlSession::onProgress(void* userp, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto* session = static_cast<CurlSession*>(userp);
    if (!session->current)
        return 0;
    CurlTransfer& transfer = *session->current;
    const auto now = std::chrono::steady_clock::now();
    if (sent > transfer.sentSoFar || received > transfer.receivedSoFar) {
        transfer.sentSoFar = std::max(sent, transfer.sentSoFar);
        transfer.receivedSoFar = std::max(received, transfer.receivedSoFar);
        transfer.lastMoved = now;
    }
    // curl may run parts of an exchange inside one call where only this callback runs.
    if (session->stalledNow(transfer))
        return 1;
    try {
        if (!transfer.progress || sent <= transfer.reported) {
            // curl awaits an FTP store's final reply, and runs parts of the SSH exchange, inside
            // one call, where only this callback runs: the caller is serviced from here too, at
            // the pace of the waiting slices.
            if (session->waiting && now - session->lastWaited >= std::chrono::milliseconds(kWaitSliceMs)) {
                session->lastWaited = now;
                session->waiting();
            }
            return 0;
        }
        transfer.reported = sent;
        if (*transfer.progress)
            (*transfer.progress)(static_cast<std::int64_t>(sent));
    } catch (...) {
        // Exceptions must not cross curl's C frames: park it and abort the transfer.
        transfer.callbackError = std::current_exception();
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
