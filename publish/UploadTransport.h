#pragma once

#include "common/Error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vela {

// A failed request to the publishing server, over FTP or SFTP. Its text names the server and the
// remote path before the server's or curl's own words ("ftp.example.com: /www/downloads/Bela/
// BANCODADOS.gdb.x.part: 550 No such file or directory."). code() is the CURLcode; reply() the
// code of an FTP server's refusal ("530 Login incorrect." gives 530), 0 when no server refused
// anything or the protocol has no reply codes (SFTP).
class TransferError : public Error {
public:
    TransferError(const std::string& message, long code, int reply) : Error(message, code), reply_(reply) {}
    int reply() const noexcept { return reply_; }
    // Whether a later try could succeed: the server could not be reached or stopped answering,
    // the connection broke, or the server refused for now (4xx). Never a refused login or host
    // key, nor a lasting refusal (5xx) such as a missing folder.
    bool transient() const noexcept;

private:
    int reply_;
};

// The server would not rename onto an existing file, as some FTP servers and OpenSSH's SFTP do.
class RenameRefused : public TransferError {
public:
    using TransferError::TransferError;
};

// What the upload step asks of the publishing server, whatever the protocol. Remote paths are
// absolute UTF-8 paths such as "/www/downloads/CasadoNo/BANCODADOS.gdb".
//
// Failures of the server or the network throw TransferError; failures of ours (a local file, a
// setting, a host key refused) throw vela::Error, which no new try cures. Not for use from more
// than one thread, nor again from inside its own callbacks.
class UploadTransport {
public:
    // Runs once per progress report in which the count of bytes sent grew.
    using Progress = std::function<void(std::int64_t bytesSoFar)>;
    // Runs about every 50 ms while the server is awaited.
    using Waiting = std::function<void()>;

    virtual ~UploadTransport() = default;

    // Connects and logs in; nothing is transferred. The connection stays open for what follows.
    virtual void connect() = 0;
    // Sends the whole local file, from its first byte, as a new file under remotePath. No folder
    // is created. Reconnects when the connection is gone. An exception thrown by progress aborts
    // the transfer and comes out unchanged.
    virtual void store(const std::string& localPath, const std::string& remotePath, const Progress& progress) = 0;
    // The size of a stored file, or nothing when the server does not tell sizes.
    virtual std::optional<std::int64_t> remoteSize(const std::string& remotePath) = 0;
    // When a file was last written, in seconds since 1970 by the server's clock, or nothing when
    // the server does not tell.
    virtual std::optional<std::int64_t> remoteTime(const std::string& remotePath) = 0;
    // The bytes of a small remote file; more than limit bytes fail.
    virtual std::string read(const std::string& remotePath, std::size_t limit) = 0;
    // Throws RenameRefused when the server refused and `to` exists; any other refusal is the
    // TransferError it is.
    virtual void rename(const std::string& from, const std::string& to) = 0;
    virtual void remove(const std::string& remotePath) = 0;
    // The names in a remote folder, without their folder.
    virtual std::vector<std::string> list(const std::string& folder) = 0;
    // Whether the connection last opened is protected.
    virtual bool encrypted() const = 0;
    // An exception thrown by waiting aborts the operation under way and comes out of it unchanged.
    virtual void setWaiting(Waiting waiting) = 0;
    // Ends the open connection properly. Throws when it is already gone.
    virtual void quit() = 0;
    // Drops the connection without reporting anything; the next request starts afresh.
    virtual void close() noexcept = 0;
    // Drops the connection at once, without waiting for the server.
    virtual void abort() noexcept = 0;

protected:
    UploadTransport() = default;
    UploadTransport(UploadTransport&&) noexcept = default;
    UploadTransport& operator=(UploadTransport&&) noexcept = default;
};

} // namespace vela
