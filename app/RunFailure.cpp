// What a failure does: the error box, or, with nobody to answer one, the saved log and the end.
#include "app/RunController.h"

#include "db/ModuloDadosCadastro.h"

#include <QCoreApplication>

#include <cstdio>

namespace vela {

bool RunController::saveLog() {
    if (auto error = record_.saveLog(log_)) {
        errorBox(*error);
        return false;
    }
    return true;
}

RunOutcome RunController::failure() {
    return stopping() ? RunOutcome::Stopped : RunOutcome::Failed;
}

void RunController::errorBox(const QString& message) {
    lastError_ = message;
    record_.failed(failure(), message);
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
        if (auto error = record_.saveLog(log_))
            std::fprintf(stderr, "%s\n", error->toLocal8Bit().constData());
        endProgram();
    }
}

void RunController::refuse(const QString& message) {
    lastError_ = message;
    record_.failed(RunOutcome::Refused, message);
    progress_.failed(message);
    if (view_.attended()) {
        view_.showFailure(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    // The run that holds the lock owns the log file: this one ends without writing it.
    if (unattended_)
        endProgram();
}

void RunController::failAndEnd(const QString& message) {
    record_.failed(failure(), message);
    progress_.failed(message);
    appendLine(message);
    if (!saveLog())
        return;
    endProgram();
}

void RunController::endProgram() {
    record_.end();
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
    QCoreApplication::exit(record_.exitStatus());
}

void RunController::stopSilently() {
    log_.flush();
    const QString last = unattended_ || stopping() ? log_.lastLine() : QString();
    record_.failed(failure(), log_.lastLine());
    progress_.failed(last);
    if ((!view_.attended() && unattended_) || stopping()) {
        // Nobody will look at the window: say why on standard error, keep the log, fail the run.
        std::fprintf(stderr, "%s\n", last.toLocal8Bit().constData());
        if (auto error = record_.saveLog(log_))
            std::fprintf(stderr, "%s\n", error->toLocal8Bit().constData());
        endProgram();
    }
}

} // namespace vela
