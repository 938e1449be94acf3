#include "publish/FileSize.h"

#include "common/Error.h"
#include "common/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vela {
namespace {

constexpr const char* kInUse = "The file is in use by another process.";

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    throw Error("Cannot open file \"" + (ec ? path : full.lexically_normal().string()) + "\". " + reason);
}

std::string systemReason(int error) {
    return std::generic_category().message(error);
}

// A read lease is granted only while no process has the file open for writing. It needs the file
// to be ours (or CAP_LEASE) and a file system that supports leases; when it cannot be asked, the
// lock tests below still catch a Firebird attachment.
bool openForWritingElsewhere(int fd) {
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return false;
    }
    return errno == EAGAIN || errno == EBUSY;
}

// Firebird takes an exclusive flock() on an attached database; other programs use fcntl() record
// locks. Either kind, held by anyone, makes the file busy.
bool lockedElsewhere(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::flock(fd, LOCK_UN);
    else if (errno == EWOULDBLOCK)
        return true;

    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

} // namespace

std::int64_t tamanhoArquivo(const std::string& path) {
    // O_NONBLOCK: a write lease held by another process then fails the open at once instead of
    // stalling the window until the lease is broken, and a FIFO cannot hang it either.
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file)
        refuse(path, errno == EWOULDBLOCK ? kInUse : systemReason(errno));

    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        refuse(path, systemReason(errno));
    if (S_ISDIR(status.st_mode))
        refuse(path, systemReason(EISDIR));
    if (!S_ISREG(status.st_mode))
        refuse(path, "Not a regular file.");

    if (openForWritingElsewhere(file.get()) || lockedElsewhere(file.get()))
        refuse(path, kInUse);
    return static_cast<std::int64_t>(status.st_size);
}

} // namespace vela
