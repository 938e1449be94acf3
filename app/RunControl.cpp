// How a run starts, how it is stopped, and what the program's exit status says about it.
#include "app/principal.h"

#include "app/StopSignals.h"

#include <QApplication>
#include <QCloseEvent>

#include <cstdio>

namespace vela {

TfrmPrincipal::Run::Run(TfrmPrincipal& w) : w_(w) {
    try {
        w_.runLock_.acquire();
    } catch (const std::exception& e) {
        w_.refuse(QString::fromUtf8(e.what()));
        return;
    }
    held_ = true;
    ++w_.running_;
}

TfrmPrincipal::Run::~Run() {
    if (!held_)
        return;
    --w_.running_;
    w_.runLock_.release();
    // The step may have ended without reaching a point where it could stop (an error box that
    // the stop closed, no row to copy): it still ends the program as a stopped run.
    if (w_.stopping() && !w_.ended_) {
        try {
            w_.failAndEnd(QStringLiteral("Execução interrompida."));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            w_.endProgram(1);
        }
    }
}

bool TfrmPrincipal::stopping() {
    // Inside a step the event loop may not get round to the signal's pipe before the step's next
    // row or progress report: the flag the handler sets is looked at as well.
    if (running_ > 0 && StopSignals::raised())
        stopAsked_ = true;
    return stopAsked_;
}

void TfrmPrincipal::requestStop() {
    if (ended_)
        return;
    if (running_ == 0) {
        close();
        return;
    }
    stopAsked_ = true;
    // Nobody is to be waited for any more: an error box open inside the step goes away.
    if (QWidget* box = QApplication::activeModalWidget())
        box->close();
}

void TfrmPrincipal::closeEvent(QCloseEvent* event) {
    if (!ended_ && running_ > 0) {
        // The step stops at its next row or progress report, then saves its log and ends.
        event->ignore();
        requestStop();
        return;
    }
    if (!ended_) {
        ended_ = true;
        exitCode_ = failed_ ? 1 : 0;
    }
    QWidget::closeEvent(event);
}

} // namespace vela
