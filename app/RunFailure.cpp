// What the run leaves behind when it fails or ends: the error box, the run log file and the exit.
#include "app/RunController.h"

#include "app/ExitStatus.h"

#include "common/Error.h"
#include "common/Files.h"
#include "db/ModuloDadosCadastro.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vela {

namespace {

// Writes the run log file from the log's pieces as they come, under a temporary name in its folder
// that is renamed over the old file once the whole text is on disk: a crash or a full disk leaves
// the previous log, never half of one.
std::optional<QString> writeFile(const QString& path, RunLog& log) {
    auto failure = [&path](int error) {
        return QString::fromUtf8(fileError("create", path.toStdString(), error).what());
    };
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd)
        return failure(errno);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    int error = ::fchmod(fd.get(), 0666 & ~mask) == 0 ? 0 : errno;
    log.writeContent([&](std::string_view bytes) {
        if (error == 0 && !writeAll(fd.get(), bytes))
            error = errno;
    });
    if (error == 0 && ::fsync(fd.get()) != 0)
        error = errno;
    if (const int closed = fd.close(); closed != 0 && error == 0)
        error = closed;
    if (error == 0 && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return failure(error);
    }
    return std::nullopt;
}

} // namespace

QString RunController::logFilePath() const {
    return settings_.logFilePath();
}

bool RunController::saveLog() {
    if (auto error = writeFile(logFilePath(), log_)) {
        errorBox(*error);
        return false;
    }
    return true;
}

void RunController::errorBox(const QString& message) {
    lastError_ = message;
    worst_ = worseExit(worst_, kExitFailed);
    progress_.failed(message);
    log_.flush();
    if (view_.attended() && !stopping()) {
        view_.showFailure(message);
        return;
    }
    // Nobody can close a box here: the message goes to standard error, and an unattended run
    // saves its log, the message as its last line, and ends as failed instead of waiting.
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    if (unattended_ || stopping()) {
        appendLine(message);
        if (auto error = writeFile(logFilePath(), log_))
            std::fprintf(stderr, "%s\n", error->toLocal8Bit().constData());
        endProgram(kExitFailed);
    }
}

void RunController::refuse(const QString& message) {
    lastError_ = message;
    worst_ = worseExit(worst_, kExitLocked);
    progress_.failed(message);
    if (view_.attended()) {
        view_.showFailure(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    // The run that holds the lock owns the log file: this one ends without writing it.
    if (unattended_)
        endProgram(kExitLocked);
}

void RunController::failAndEnd(const QString& message) {
    progress_.failed(message);
    appendLine(message);
    if (!saveLog())
        return;
    endProgram(kExitFailed);
}

void RunController::endProgram(int code) {
    ended_ = true;
    exitCode_ = code;
    progress_.finish();
    log_.flush();
    if (dm_) {
        try {
            dm_->release();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        }
    }
    view_.closeView();
    QCoreApplication::exit(code);
}

void RunController::stopSilently() {
    worst_ = worseExit(worst_, kExitFailed);
    log_.flush();
    const QString last = unattended_ || stopping() ? log_.lastLine() : QString();
    progress_.failed(last);
    if ((!view_.attended() && unattended_) || stopping()) {
        // Nobody will look at the window: say why on standard error, keep the log, fail the run.
        std::fprintf(stderr, "%s\n", last.toLocal8Bit().constData());
        if (auto error = writeFile(logFilePath(), log_))
            std::fprintf(stderr, "%s\n", error->toLocal8Bit().constData());
        endProgram(kExitFailed);
    }
}

} // namespace vela
