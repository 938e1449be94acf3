#include "common/Files.h"

#include "common/Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela {

void UniqueFd::reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd)
        ::close(fd_);
    fd_ = fd;
}

int UniqueFd::close() noexcept {
    if (fd_ < 0)
        return 0;
    const int rc = ::close(std::exchange(fd_, -1));
    return rc == 0 ? 0 : errno;
}

namespace {

template <typename Write>
bool writeLoop(std::string_view bytes, Write write) noexcept {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(bytes.data() + done, bytes.size() - done, done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool writeAll(int fd, std::string_view bytes) noexcept {
    return writeLoop(bytes, [fd](const char* p, size_t n, size_t) { return ::write(fd, p, n); });
}

bool writeAllAt(int fd, std::string_view bytes, off_t offset) noexcept {
    return writeLoop(bytes, [fd, offset](const char* p, size_t n, size_t done) {
        return ::pwrite(fd, p, n, offset + static_cast<off_t>(done));
    });
}

bool copyFile(const std::string& from, const std::string& to) noexcept {
    const UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status;
    if (!in || ::fstat(in.get(), &status) != 0)
        return false;
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!out || ::fchmod(out.get(), status.st_mode & 07777) != 0)
        return false;
    ssize_t n;
    while ((n = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, size_t(1) << 30, 0)) > 0 ||
           (n < 0 && errno == EINTR)) {
    }
    if (n < 0) {
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return false;
        // No kernel copy between these two files: the bytes come through here, from where it stopped.
        char buffer[1 << 16];
        while ((n = ::read(in.get(), buffer, sizeof buffer)) != 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || !writeAll(out.get(), std::string_view(buffer, static_cast<size_t>(n))))
                return false;
        }
    }
    if (const int closed = out.close(); closed != 0) {
        errno = closed;
        return false;
    }
    return true;
}

void syncToDisk(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0)
        throw fileError("flush", path, errno);
}

} // namespace vela
