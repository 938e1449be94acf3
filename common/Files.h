#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>

namespace vela {

// Owns a file descriptor: closed when it goes, moved but never copied.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int fd = -1) noexcept;
    // Closes now, for a caller that must know whether the close failed (a write-back error): the
    // errno of the failure, or 0.
    int close() noexcept;

private:
    int fd_ = -1;
};

// Owns a stdio stream: closed when it goes.
struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Flushes a file, or a folder's entries (a rename made durable), to the disk. Throws Error
// "Cannot flush file ...".
void syncToDisk(const std::string& path);

// Writes all of bytes, through interruptions and short writes; false with errno set when the
// system refuses (a write that takes nothing counts as EIO).
bool writeAll(int fd, std::string_view bytes) noexcept;
// The same at an offset, without moving the file position.
bool writeAllAt(int fd, std::string_view bytes, off_t offset) noexcept;

// Copies the file from into to, made (with from's permissions) or emptied, by the kernel's own copy
// where the file system offers it; false with errno set to the system's reason (a full disk:
// ENOSPC, never a bare "short write").
bool copyFile(const std::string& from, const std::string& to) noexcept;

} // namespace vela
