#pragma once

#include "common/Files.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QPlainTextEdit;

namespace vela {

// The part of the run log no longer in the box, in Windows-1252, each line followed by CR LF. It
// lives in an unnamed temporary file (gone with the process, however it ends), so a million-row run
// does not hold its 36 MB of text in memory; in memory only where no temporary file can be made.
class LogHead {
public:
    LogHead();
    using Sink = std::function<void(std::string_view)>;

    void append(std::string_view bytes);
    // Passes the whole head to sink, in order, at most kChunk bytes at a time.
    void read(const Sink& sink) const;
    // Appends the whole head to out.
    void readInto(std::string& out) const;

private:
    void spill();

    static constexpr size_t kChunk = 1 << 20;
    UniqueFile file_;
    size_t written_ = 0; // bytes in the file
    std::string buffer_; // the bytes after them
};

// The run log's box as the run log uses it. The code that works the box is the window's
// (RunLogBox.cpp), so that the run itself links no widget library: loading the window's code installs
// it, and a box given to a run log before that is refused.
class LogBox {
public:
    virtual ~LogBox() = default;
    // Moves every line the box holds to head, each followed by CR LF, and empties the box.
    virtual void moveTo(LogHead& head) = 0;
    // Shows lines (Windows-1252, CR LF between them) after what the box holds, or in place of its
    // text when it is empty and replacing is allowed; when the box then holds twice keep lines or
    // more, all but the last keep move to head. The box's view follows its end.
    virtual void show(std::string_view lines, bool replaceWhenEmpty, LogHead& head, int keep) = 0;
    // The box's last line.
    virtual QString lastLine() = 0;
    // Appends each of the box's lines, followed by CR LF, to out.
    virtual void appendTo(std::string& out) = 0;
};

using LogBoxMaker = std::unique_ptr<LogBox> (*)(QPlainTextEdit* memo);
void installLogBox(LogBoxMaker maker);

// The run log: the lines of Memo1. Appended lines are shown in batches (at most every ~50 ms) so
// a long table copy is not bound by repaints. The box keeps only a few hundred lines, more than it
// shows; older ones move, exactly as the box held them (typing included), into the head. Every
// line that enters the box costs a text block made and later removed, several microseconds, so a
// batch's lines beyond what the box keeps go straight to the head and never become blocks.
//
// Without a box (an unattended run without a display) every line goes straight to the head.
class RunLog {
public:
    // memo may be null: no box. A box needs the window's code loaded (installLogBox).
    explicit RunLog(QPlainTextEdit* memo);

    void append(const QString& line);
    void appendCp1252(std::string_view line);
    // Shows the pending lines in the box now.
    void flush();

    // The lines as they stand, what the user typed into the box included.
    QStringList lines();
    // The last of them, without reading the whole log back.
    QString lastLine();
    // The run log file's content: every line followed by CR LF, one more CR LF, in Windows-1252.
    std::string fileContent();
    // The same bytes passed to sink a piece at a time, so that saving a long run's log does not hold
    // all of it in memory.
    void writeContent(const LogHead::Sink& sink);

private:
    void maybeFlush();

    static constexpr int kShownLines = 250;

    std::unique_ptr<LogBox> box_;
    LogHead head_;
    std::string pending_; // Windows-1252 lines not yet shown, each followed by CR LF
    int pendingLines_ = 0;
    QString lastLine_; // without a box: the last line flushed
    QElapsedTimer sinceFlush_;
};

// The lines of a Windows-1252 text whose lines end in CR LF; the last one may lack it.
QStringList splitLines(std::string_view text);
QString fromCp1252(std::string_view bytes);
std::string toCp1252(const QString& text);

} // namespace vela
