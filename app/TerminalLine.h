#pragma once

#include <QString>

namespace vela {

// One line of progress on a terminal, rewritten in place. Where the stream is a pipe or a file
// nothing is written at all: a scheduler's mail or a redirected log must not fill with it.
class TerminalLine {
public:
    explicit TerminalLine(int fd);

    bool active() const { return active_; }
    // Replaces the line; text wider than the terminal is cut, so the rewrite stays on one row.
    void show(const QString& text);
    // Leaves the cursor at the start of an empty line, as if nothing had been shown.
    void clear();

private:
    void write(const QByteArray& bytes);

    int fd_;
    bool active_;
    bool shown_ = false;
};

} // namespace vela
