#include "app/RunLock.h"

#include "common/Error.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace vela {

RunLock::RunLock(QString mobilePath) : mobilePath_(std::move(mobilePath)) {}

RunLock::~RunLock() = default;

void RunLock::acquire() {
    if (depth_ > 0) {
        ++depth_;
        return;
    }
    const QString path = mobilePath_ + QStringLiteral(".lock");
    // Read-only is enough for flock, and lets users who share the folder lock a file another of
    // them created.
    UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!fd)
        throw fileError("create", path.toStdString(), errno);
    int rc;
    while ((rc = ::flock(fd.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK)
            throw LockHeld("Outra execução em andamento: " + mobilePath_.toStdString());
        throw fileError("lock", path.toStdString(), error);
    }
    fd_ = std::move(fd);
    depth_ = 1;
}

void RunLock::release() {
    if (depth_ == 0 || --depth_ > 0)
        return;
    // Closing the only descriptor of the file drops the lock.
    fd_.reset();
}

} // namespace vela
