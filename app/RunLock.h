#pragma once

#include "common/Error.h"
#include "common/Files.h"

#include <QString>

namespace vela {

// Another process holds the run lock: "Outra execução em andamento: " and the mobile path.
class LockHeld : public Error {
public:
    using Error::Error;
};

// One run at a time on a mobile database: an exclusive flock on a file beside it
// ("BANCODADOS.gdb.lock"). The system drops the lock with the process, so a run that was killed
// leaves nothing to clean up. Taken again by the same process it only counts, so that the
// unattended sequence can hold it across the two steps that each take it as well.
class RunLock {
public:
    explicit RunLock(QString mobilePath);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Throws LockHeld when another process holds the lock, or Error with the lock file's path and the
    // system's reason when it cannot be created or locked (a read-only mobile folder).
    void acquire();
    void release();

private:
    QString mobilePath_;
    UniqueFd fd_;
    int depth_ = 0;
};

} // namespace vela
