// How a run starts, the unattended sequence, how a run is stopped, and what the program's exit
// status says about it.
#include "app/RunController.h"

#include "app/Startup.h"
#include "app/StopSignals.h"

#include <QCoreApplication>

namespace vela {

RunController::RunController(const AppSettings& settings, RunView& view)
    : settings_(settings), view_(view), log_(view.logBox()), progress_(view) {}

bool unattendedArgument() {
    QString first = firstArgument();
    for (QChar& c : first)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    return first == QLatin1String("EXECUTAR");
}

void RunController::runUnattended() {
    unattended_ = true;
    progress_.setUnattended(true);
    {
        Run run(*this);
        if (run && runStep1() && !ended() && runStep2() && !ended())
            publishedAndEnd();
    }
    progress_.finish(); // a sequence cut short leaves the window waiting; its summary is due now
}

void RunController::publishedAndEnd() {
    appendLine(QStringLiteral("Salvando log em: ") + logFilePath());
    if (saveLog())
        endProgram();
}

RunController::Run::Run(RunController& c) : c_(c), outer_(c.running_ == 0) {
    if (outer_)
        c_.record_.begin();
    try {
        c_.runLock_.acquire();
    } catch (const LockHeld& e) {
        c_.refuse(QString::fromUtf8(e.what()));
        return;
    } catch (const std::exception& e) {
        // No lock could be made (a read-only folder): a failure of this run, not another run.
        c_.errorBox(QString::fromUtf8(e.what()));
        return;
    }
    held_ = true;
    if (outer_)
        c_.record_.removeLeftoverLogs();
    // Inside a step the event loop may not get round to the signal's pipe before the step's next
    // row or progress report: the flag the handler sets counts as well.
    if (c_.running_++ == 0)
        c_.stop_.watch(&StopSignals::flag());
}

RunController::Run::~Run() {
    if (held_) {
        // What the step opened is closed while the lock still keeps other runs away.
        c_.closeStep();
        if (--c_.running_ == 0)
            c_.stop_.watch(nullptr);
        // The step may have ended without reaching a point where it could stop (an error box that
        // the stop closed, no row to copy): it still ends the program as a stopped run. Once the
        // server has the file, a stop changes nothing: the run published.
        if (c_.stopping() && !c_.ended()) {
            try {
                if (c_.record_.uploaded())
                    c_.publishedAndEnd();
                else
                    c_.failAndEnd(QStringLiteral("Execução interrompida."));
            } catch (const std::exception& e) {
                c_.reportFailure(RunOutcome::Stopped, QString::fromUtf8(e.what()));
                c_.endProgram();
            }
        }
    }
    if (outer_)
        c_.record_.write(c_.progress_.summary(), c_.view_.mobilePath());
    // Released last: the run log file was saved under the lock.
    if (held_)
        c_.runLock_.release();
}

bool RunController::stopping() {
    // A signal seen inside a step stays a stop once the step is left.
    if (stop_.raised())
        stop_.raise();
    return stop_.raised();
}

void RunController::requestStop() {
    if (ended())
        return;
    if (running_ == 0) {
        view_.closeView();
        return;
    }
    stop_.raise();
    view_.dismissFailure();
}

bool RunController::closing() {
    if (!ended() && running_ > 0) {
        // The step stops at its next row or progress report, then saves its log and ends.
        requestStop();
        return false;
    }
    record_.end();
    return true;
}

void RunController::betweenCalls() {
    // The next database call may be long: what is pending is shown before it, not after.
    log_.flush();
    view_.betweenCalls();
}

} // namespace vela
