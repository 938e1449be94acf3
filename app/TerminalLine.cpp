#include "app/TerminalLine.h"

#include "common/Files.h"

#include <QByteArray>

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vela {

TerminalLine::TerminalLine(int fd) : fd_(fd), active_(::isatty(fd) == 1) {}

void TerminalLine::show(const QString& text) {
    if (!active_)
        return;
    QString shown = text;
    winsize size{};
    if (::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && shown.size() >= size.ws_col)
        shown.truncate(size.ws_col - 1);
    write("\r" + shown.toLocal8Bit() + "\x1b[K");
    shown_ = true;
}

void TerminalLine::clear() {
    if (!active_ || !shown_)
        return;
    write("\r\x1b[K");
    shown_ = false;
}

void TerminalLine::write(const QByteArray& bytes) {
    // Progress is a courtesy: a terminal gone away is no reason to stop the run.
    (void)writeAll(fd_, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

} // namespace vela
