#pragma once

#include "publish/CurlHandle.h"
#include "publish/UploadTransport.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

struct CurlSession;

// What one request carries while it runs, made for it and gone with it (as curl's own tool keeps a
// per_transfer): the remote path it is about, for messages; the file a store reads; progress; the
// text a listing or a small download collects; an exception parked while curl's C frames are on
// the stack; and when bytes last moved, for the deadline.
struct CurlTransfer {
    explicit CurlTransfer(std::string remotePath = {}) : path(std::move(remotePath)) {}

    std::string path;
    std::FILE* source = nullptr;
    int readError = 0;
    const UploadTransport::Progress* progress = nullptr;
    std::int64_t reported = 0;
    std::string* body = nullptr;
    std::size_t bodyLimit = 0; // 0: no limit
    std::exception_ptr callbackError;

    std::chrono::steady_clock::time_point lastMoved;
    curl_off_t sentSoFar = 0;
    curl_off_t receivedSoFar = 0;
    bool stalled = false;
};

// What the FTP and SFTP clients share: the connection. One easy handle kept on a multi handle of
// ours, so that the waits for the server come in short slices with the caller serviced between
// them, and every request has a deadline of its own, which curl's timeouts do not give an SSH
// exchange; the sockets, so that abort() can reset them.
struct CurlSession {
    CurlSession() = default;
    virtual ~CurlSession() = default;
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    // Every socket curl opened and has not closed yet. Declared before the multi handle, which
    // closes the last of them when it goes.
    std::vector<curl_socket_t> sockets;
    // Declared before the easy handle so that it goes last, ending a connection still open
    // properly (QUIT, SSH disconnect).
    CurlMulti multi;
    std::optional<CurlHandle> curl; // empty after close(); made again on the next use
    UploadTransport::Waiting waiting;
    std::chrono::steady_clock::time_point lastWaited;

    // The server, as failures name it, and how long a request may go without a byte moving either
    // way before it ends as a time-out.
    std::string host;
    std::chrono::milliseconds stallLimit{60000};

    // The request running, for the callbacks; null between requests.
    CurlTransfer* current = nullptr;

    // Set while a request must run on the connection already open and never on a new one.
    bool refuseSockets = false;
    bool refusedConnection = false;

    // The handle, made and configured on first use.
    CurlHandle& handle();

    // Runs the request set on the handle. An exception parked by a callback, or thrown by waiting,
    // comes out here unchanged; leaving early aborts the request. A request on which no byte moved
    // for stallLimit drops the connection and throws a TransferError time-out.
    CURLcode perform(CurlTransfer& transfer);

    // A request with no body on url: curl connects and logs in where it must, runs the commands
    // set on the handle and transfers nothing. With fileTime, curl asks the file's time too.
    CURLcode withoutBody(const std::string& url, CurlTransfer& transfer, bool fileTime = false);

    // Sends the whole local file to url; a failure of the file throws, the request's code is
    // returned.
    CURLcode storeFile(const std::string& localPath, const std::string& url, CurlTransfer& transfer,
                       const UploadTransport::Progress& progress);

    // Reads a small remote file into text; more than limit bytes fail the request.
    CURLcode readFile(const std::string& url, CurlTransfer& transfer, std::string& text, std::size_t limit);

    // The names a listing of url holds (one a line), without their folder.
    CURLcode listNames(const std::string& url, CurlTransfer& transfer, std::vector<std::string>& names);

    // Runs request as the last one on the connection already open, which curl then ends properly
    // (QUIT, an SSH disconnect). A dead connection would make curl quietly open a new one just
    // for this; new sockets are refused instead, and that throws Error(gone). So does a session
    // with no connection.
    CURLcode lastRequest(const char* gone, const std::function<CURLcode()>& request);

    // The size and the time curl learnt of the file last opened, or nothing.
    std::optional<std::int64_t> contentLength();
    std::optional<std::int64_t> fileTime();

    // How a failure of transfer starts: "host: path: ", or "host: " for a request on no path.
    std::string where(const CurlTransfer& transfer) const;

    // Puts back an option one request set, unless the handle is gone (a request that failed may
    // have dropped the connection).
    template <typename Value> void unset(CURLoption option, Value value) noexcept {
        if (curl)
            curl->reset(option, value);
    }

    // Resets the sockets, so that what curl says when it closes them (QUIT, an SSH disconnect)
    // fails at once instead of waiting for a server that may be busy or gone, then lets curl close
    // them.
    void abort() noexcept;
    void close() noexcept;

protected:
    // Sets the protocol's own options on a new handle; the shared callbacks are set after it.
    virtual void configure(CurlHandle& h) = 0;
    // Forgets what the last request left for messages.
    virtual void beforeRequest() {}

private:
    bool stalledNow(CurlTransfer& transfer) const;

    static size_t readSource(char* buffer, size_t size, size_t count, void* userp);
    static size_t collect(char* data, size_t size, size_t count, void* userp);
    static size_t discard(char*, size_t size, size_t count, void*);
    static int onProgress(void* userp, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent);
    static curl_socket_t openSocket(void* userp, curlsocktype, curl_sockaddr* address);
    static int closeSocket(void* userp, curl_socket_t socket);
};

} // namespace vela
