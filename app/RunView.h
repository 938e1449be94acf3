#pragma once

#include "app/GaugeValue.h"

#include <QString>

#include <string_view>

class QPlainTextEdit;

namespace vela {

enum class RunStep { Sync, Upload };

// Where a run shows itself: the window, or, for an unattended run without a display, nothing but
// standard error and a terminal line. The run controller decides what happens; the view shows it.
class RunView {
public:
    virtual ~RunView() = default;

    // A line the run log has just taken (Windows-1252), for a view that follows the lines as they
    // come; the log shows them itself, in its box.
    virtual void appendLog(std::string_view line) { (void)line; }
    virtual void setGaugePosition(int position) = 0;
    virtual void setGaugeMaximum(int maximum) = 0; // throws as GaugeValue::setMaxValue
    virtual void stepGauge() = 0;
    virtual const GaugeValue& gauge() const = 0;
    // Whether the gauge is seen: the window's always is, even drawn offscreen.
    virtual bool showsGauge() const { return true; }
    // Progress shown after the fixed title; empty: the fixed title alone.
    virtual void showProgress(const QString& what) = 0;

    // Whether a person is there to answer a box.
    virtual bool attended() const = 0;
    // Shows a failure to that person and returns once it is answered (or dismissed).
    virtual void showFailure(const QString& message) = 0;
    // A stop came while a failure waits for a person: nobody is to be waited for any more.
    virtual void dismissFailure() = 0;

    // A chance to service pending events: once per row and upload report, while a server is awaited.
    virtual void processEvents() = 0;
    // Before a long database call: the last chance for a while to paint and to hear input.
    virtual void betweenCalls() = 0;
    virtual void stepBegan(RunStep step) = 0;
    virtual void stepEnded(RunStep step) = 0;
    // The run is over, or a stop was asked with no step running.
    virtual void closeView() = 0;

    // The box the run log shows its tail in; none without a window.
    virtual QPlainTextEdit* logBox() = 0;
    // The back office's database path, as the run is to open it (it may be typed in the window).
    virtual QString sourcePath() const = 0;
    virtual void setSourcePath(const QString& path) = 0;
    // The published mobile database.
    virtual QString mobilePath() const = 0;
};

} // namespace vela
