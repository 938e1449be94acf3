// What a failure does: the error box, or, with nobody to answer one, the saved log and the end.
#include "app/RunController.h"

#include "db/ModuloDadosCadastro.h"

#include <QCoreApplication>

#include <cstdio>

namespace vela {

RunOutcome RunController::failure() {
    return stopping() ? RunOutcome::Stopped : RunOutcome::Failed;
}

void RunController::reportFailure(RunOutcome outcome, const QString& message) {
    lastError_ = message;
    record_.failed(outcome, message);
    progress_.failed(message);
    log_.flush();
    // Standard error (the journal, under the service) gets every failure once, whoever else is
    // shown it: the box, the saved log.
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool RunController::saveLog() {
    auto error = record_.saveLog(log_);
    if (!error)
        return true;
    // The log cannot carry its own failure: standard error and the box do.
    reportFailure(failure(), *error);
    if (view_.attended() && !stopping())
        view_.showFailure(*error);
    else if (unattended_ || stopping())
        endProgram();
    return false;
}

void RunController::errorBox(const QString& message) {
    reportFailure(failure(), message);
    if (view_.attended() && !stopping()) {
        view_.showFailure(message);
        return;
    }
    // Nobody can close a box here: an unattended run saves its log, the message as its last line,
    // and ends as failed instead of waiting.
    if (unattended_ || stopping())
        endWithLog(message);
}

void RunController::refuse(const QString& message) {
    reportFailure(RunOutcome::Refused, message);
    if (view_.attended()) {
        view_.showFailure(message);
        return;
    }
    // The run that holds the lock owns the log file: this one ends without writing it.
    if (unattended_)
        endProgram();
}

void RunController::failAndEnd(const QString& message) {
    reportFailure(failure(), message);
    endWithLog(message);
}

void RunController::endWithLog(const QString& message) {
    appendLine(message);
    if (saveLog())
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

void RunController::stopSilently(const QString& message) {
    appendLine(message);
    reportFailure(failure(), message);
    // Nobody will look at the window: keep the log, fail the run.
    if ((!view_.attended() && unattended_) || stopping()) {
        if (saveLog())
            endProgram();
    }
}

} // namespace vela
