#include "app/ConsoleView.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>

namespace vela {

void ConsoleView::showFailure(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

// No event round per row: nothing is painted and nobody types. What comes through the event loop
// (the stop signal's pipe) is read at most every 50 ms; a run stopped during the upload with the pipe
// left unread was seen to hang in the database engine's detach at its end.
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
