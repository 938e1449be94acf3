#pragma once

#include "app/RunSummary.h"
#include "app/RunView.h"
#include "app/TerminalLine.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vela {

// Progress shown outside the run log: after the view's fixed title during a step, on a terminal
// during an unattended run (standard error only when it is one), and the summary line an unattended
// run prints on standard output when it ends. Shown at most every 100 ms; a row costs a counter and
// every 64th a clock read.
class RunProgress {
public:
    using Step = RunStep;
    using Clock = RunSummary::Clock;

    explicit RunProgress(RunView& view);

    void setUnattended(bool unattended) { unattended_ = unattended; }
    // Whether an unattended run's percentages reach a terminal.
    bool onTerminal() const { return unattended_ && terminal_.active(); }

    void stepBegan(Step step);
    void stepEnded();
    void tableStarted(std::string_view title);
    void rowCopied();
    // A child copy's row: its percentage is of the whole child table, not of its parent's rows.
    void childRowCopied(std::int64_t rows, std::int64_t total) {
        summary_.childRowCopied();
        childRows_ = rows;
        childTotal_ = total;
    }
    void uploadBegan();
    void sendingTo(const QString& where) { summary_.sendingTo(where); }
    void bytesSent(std::int64_t bytes);
    // The reason the run stops; a failure of several reasons keeps the last.
    void failed(const QString& message);
    // Unattended: clears the terminal line and prints the summary line, once.
    void finish();

    const RunSummary& summary() const { return summary_; }

private:
    bool due(Clock::time_point now) const;
    void show(Clock::time_point now);
    void resetTitle();
    int percent() const;

    static constexpr std::chrono::milliseconds kInterval{100};

    RunView& view_;
    TerminalLine terminal_;
    RunSummary summary_;
    bool unattended_ = false;
    bool finished_ = false;
    Step step_ = Step::Sync;
    bool inStep_ = false;
    std::string table_;
    std::int64_t childRows_ = -1; // -1: the table shown is no child copy
    std::int64_t childTotal_ = 0;
    QString failure_;
    bool shown_ = false;
    Clock::time_point shownAt_;
    std::int64_t rowsShown_ = 0;
    Clock::time_point uploadFrom_;
};

} // namespace vela
