#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

class QPlainTextEdit;

namespace vela {

// The run log: the lines of Memo1. Appended lines are shown in batches (at most every ~50 ms) so
// a long table copy is not bound by repaints; whatever asks for the text gets every line.
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

    QPlainTextEdit* memo_;
    QString pending_;
    bool hasPending_ = false;
    QElapsedTimer sinceFlush_;
};

QString fromCp1252(std::string_view bytes);
std::string toCp1252(const QString& text);

} // namespace vela
