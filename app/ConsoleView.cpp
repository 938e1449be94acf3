#include "app/ConsoleView.h"

#include "app/RunController.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>

namespace vela {

void ConsoleView::appendLog(std::string_view line) {
    run_->log().appendCp1252(line);
}

void ConsoleView::showFailure(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

void ConsoleView::processEvents() {
    auto now = std::chrono::steady_clock::now();
    if (now - eventsAt_ < std::chrono::milliseconds(50))
        return;
    eventsAt_ = now;
    QCoreApplication::processEvents();
}

QString ConsoleView::mobilePath() const {
    return settings_.mobilePath();
}

} // namespace vela
