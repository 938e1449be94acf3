#include "app/RunProgress.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace vela {

RunProgress::RunProgress(RunView& view) : view_(view), terminal_(STDERR_FILENO) {}

void RunProgress::stepBegan(Step step) {
    step_ = step;
    inStep_ = true;
    shown_ = false;
    if (step == Step::Sync)
        summary_.syncBegan(Clock::now());
}

void RunProgress::stepEnded() {
    if (!inStep_)
        return;
    inStep_ = false;
    if (step_ == Step::Sync)
        summary_.syncEnded(Clock::now());
    else
        summary_.uploadEnded(Clock::now());
    resetTitle();
    terminal_.clear();
}

void RunProgress::tableStarted(std::string_view title) {
    summary_.tableStarted(title);
    if (title == table_)
        return; // the next quota's products: the same table goes on
    table_.assign(title);
    childRows_ = -1;
    shown_ = false; // a new table is shown at once
}

int RunProgress::percent() const {
    if (childRows_ < 0)
        return view_.gauge().percentDone();
    if (childTotal_ <= 0)
        return 100;
    return static_cast<int>(std::min<std::int64_t>(100, childRows_ * 100 / childTotal_));
}

void RunProgress::rowCopied() {
    summary_.rowCopied();
    // Reading the clock costs more than the rest of this; every 64th row is often enough.
    if (shown_ && (summary_.rows() & 63) != 0)
        return;
    Clock::time_point now = Clock::now();
    if (due(now))
        show(now);
}

void RunProgress::uploadBegan() {
    uploadFrom_ = Clock::now();
    summary_.uploadBegan(uploadFrom_);
}

void RunProgress::bytesSent(std::int64_t bytes) {
    summary_.bytesSent(bytes);
    Clock::time_point now = Clock::now();
    if (due(now))
        show(now);
}

void RunProgress::failed(const QString& message) {
    failure_ = message;
    // What follows on standard error must start on a line of its own.
    terminal_.clear();
}

void RunProgress::finish() {
    terminal_.clear();
    resetTitle();
    if (!unattended_ || finished_)
        return;
    finished_ = true;
    if (inStep_)
        stepEnded();
    QByteArray line = summary_.line(failure_, Clock::now()).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

bool RunProgress::due(Clock::time_point now) const {
    return !shown_ || now - shownAt_ >= kInterval;
}

void RunProgress::show(Clock::time_point now) {
    QString what;
    QString rate;
    if (step_ == Step::Upload) {
        double seconds = std::chrono::duration<double>(now - uploadFrom_).count();
        rate = byteSize(seconds > 0 ? static_cast<double>(summary_.bytes()) / seconds : 0) + QLatin1String("/s");
        what = rate;
    } else {
        double seconds = shown_ ? std::chrono::duration<double>(now - shownAt_).count() : 0;
        std::int64_t rows = summary_.rows() - rowsShown_;
        rate = QString::number(seconds > 0 ? static_cast<std::int64_t>(static_cast<double>(rows) / seconds) : 0) +
               QLatin1String(" linhas/s");
        what = QString::fromUtf8(table_.data(), static_cast<qsizetype>(table_.size())) + QLatin1Char(' ') +
               QString::number(percent()) + QLatin1String(" %");
    }
    shown_ = true;
    shownAt_ = now;
    rowsShown_ = summary_.rows();
    view_.showProgress(what);
    if (!unattended_ || !terminal_.active())
        return;
    if (step_ == Step::Upload)
        terminal_.show(QStringLiteral("enviando: ") + byteSize(static_cast<double>(summary_.bytes())) +
                       QLatin1String(", ") + QString::number(view_.gauge().percentDone()) + QLatin1String(" %, ") + rate);
    else
        terminal_.show(what + QLatin1String(", ") + rate);
}

void RunProgress::resetTitle() {
    view_.showProgress({});
}

} // namespace vela
