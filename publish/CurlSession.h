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

// What the FTP and SFTP clients share: one easy handle kept on a multi handle of ours, so that the
// waits for the server come in short slices with the caller serviced between them; the file read
// for a store; progress; exceptions parked while curl's C frames are on the stack; the sockets, so
// that abort() can reset them.
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

    // Set only while a store runs.
    std::FILE* source = nullptr;
    int readError = 0;
    const UploadTransport::Progress* progress = nullptr;
    std::int64_t reported = 0;
    std::exception_ptr callbackError;

    // Set while a request must run on the connection already open and never on a new one.
    bool refuseSockets = false;
    bool refusedConnection = false;

    // Set only while listing a folder.
    std::string* listing = nullptr;

    // The handle, made and configured on first use.
    CurlHandle& handle();

    // Runs the request set on the handle. An exception parked by a callback, or thrown by waiting,
    // comes out here unchanged; leaving early aborts the request.
    CURLcode perform(CurlHandle& h);

    // A request with no body on url: curl connects and logs in where it must, runs the commands
    // set on the handle and transfers nothing.
    CURLcode withoutBody(CurlHandle& h, const std::string& url);

    // Sends the whole local file to url; a failure of the file throws, the request's code is
    // returned.
    CURLcode storeFile(CurlHandle& h, const std::string& localPath, const std::string& url,
                       const UploadTransport::Progress& progress);

    // The names a listing of url holds (one a line), without their folder.
    CURLcode listNames(CurlHandle& h, const std::string& url, std::vector<std::string>& names);

    // Runs request as the last one on the connection already open, which curl then ends properly
    // (QUIT, an SSH disconnect). A dead connection would make curl quietly open a new one just
    // for this; new sockets are refused instead, and that throws Error(gone). So does a session
    // with no connection.
    CURLcode lastRequest(const char* gone, const std::function<CURLcode(CurlHandle&)>& request);

    // The size curl learnt of the file last opened, or nothing.
    static std::optional<std::int64_t> contentLength(CurlHandle& h);

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
    void rethrowParked();

    static size_t readSource(char* buffer, size_t size, size_t count, void* userp);
    static size_t collect(char* data, size_t size, size_t count, void* userp);
    static size_t discard(char*, size_t size, size_t count, void*);
    static int onProgress(void* userp, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent);
    static curl_socket_t openSocket(void* userp, curlsocktype, curl_sockaddr* address);
    static int closeSocket(void* userp, curl_socket_t socket);
};

} // namespace vela
