#pragma once

#include "app/GaugeValue.h"
#include "app/RunView.h"
#include "app/Settings.h"

#include <chrono>

namespace vela {

// The view of an unattended run without a display: no window, no event round per row. Lines go to
// the run log, the gauge is only numbers for the terminal line's percentages, and a failure is left
// to standard error, since nobody is there to answer.
class ConsoleView : public RunView {
public:
    explicit ConsoleView(const AppSettings& settings) : settings_(settings) {}
    void setGaugePosition(int position) override { gauge_.setProgress(position); }
    void setGaugeMaximum(int maximum) override { gauge_.setMaxValue(maximum); }
    void stepGauge() override { gauge_.addProgress(1); }
    const GaugeValue& gauge() const override { return gauge_; }
    bool showsGauge() const override { return false; }
    void showProgress(const QString&) override {}
    bool attended() const override { return false; }
    void showFailure(const QString& message) override;
    void dismissFailure() override {}
    void processEvents() override;
    void betweenCalls() override {}
    void stepBegan(RunStep) override {}
    void stepEnded(RunStep) override {}
    void closeView() override {}
    QPlainTextEdit* logBox() override { return nullptr; }
    QString sourcePath() const override { return source_; }
    void setSourcePath(const QString& path) override { source_ = path.left(kFieldLength); }
    QString mobilePath() const override;

private:
    const AppSettings& settings_;
    GaugeValue gauge_;
    // The window's path field keeps at most this many characters (a QLineEdit's own limit): a run
    // opens the same path with or without it.
    static constexpr qsizetype kFieldLength = 32767;
    QString source_ = settings_.sourceDatabase.left(kFieldLength);
    std::chrono::steady_clock::time_point eventsAt_{};
};

} // namespace vela
