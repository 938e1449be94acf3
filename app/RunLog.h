#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

class QPlainTextEdit;

namespace vela {

// The run log: the lines of Memo1. Appended lines are shown in batches (at most every ~50 ms) so
// a long table copy is not bound by repaints. The box keeps the last few thousand lines; older ones
// move, exactly as the box held them (typing included), into a compact Windows-1252 head, so a
// million-row run costs the size of its text and not a widget structure per line.
class RunLog {
public:
    explicit RunLog(QPlainTextEdit* memo);

    void append(const QString& line);
    void appendCp1252(std::string_view line);
    // Shows the pending lines in the box now.
    void flush();

    // The lines as they stand, what the user typed into the box included.
    QStringList lines();
    // The run log file's content: every line followed by CR LF, one more CR LF, in Windows-1252.
    std::string fileContent();

private:
    void maybeFlush();
    void trim();
    void moveBoxToHead();

    static constexpr int kShownLines = 5000;

    QPlainTextEdit* memo_;
    std::string head_;    // lines no longer in the box, each followed by CR LF
    std::string pending_; // Windows-1252 lines not yet shown, each followed by CR LF
    int pendingLines_ = 0;
    QElapsedTimer sinceFlush_;
};

QString fromCp1252(std::string_view bytes);
std::string toCp1252(const QString& text);

} // namespace vela
