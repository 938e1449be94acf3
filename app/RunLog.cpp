#include "app/RunLog.h"

#include "common/Cp1252.h"
#include "common/Error.h"
#include "common/Files.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace vela {

QString fromCp1252(std::string_view bytes) {
    QString s(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    cp1252::toUtf16(bytes, reinterpret_cast<char16_t*>(s.data()));
    return s;
}

std::string toCp1252(const QString& text) {
    return cp1252::fromUtf16({reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())});
}

LogHead::LogHead() : file_(std::tmpfile()) {}

void LogHead::append(std::string_view bytes) {
    buffer_.append(bytes);
    if (file_ && buffer_.size() >= kChunk)
        spill();
}

void LogHead::spill() {
    if (!writeAllAt(fileno(file_.get()), buffer_, static_cast<off_t>(written_))) {
        // A full or failing disk: what the file holds comes back, and the head stays in memory.
        std::string all;
        readInto(all);
        buffer_.insert(0, all, 0, written_);
        file_.reset();
        written_ = 0;
        return;
    }
    written_ += buffer_.size();
    buffer_.clear();
}

void LogHead::read(const Sink& sink) const {
    if (file_) {
        std::string chunk;
        for (size_t at = 0; at < written_;) {
            chunk.resize(std::min(kChunk, written_ - at));
            size_t got = 0;
            while (got < chunk.size()) {
                ssize_t n = ::pread(fileno(file_.get()), chunk.data() + got, chunk.size() - got,
                                    static_cast<off_t>(at + got));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    throw Error("Cannot read the run log's temporary file: " + std::string(std::strerror(errno)));
                got += static_cast<size_t>(n);
            }
            sink(chunk);
            at += chunk.size();
        }
    }
    sink(buffer_);
}

void LogHead::readInto(std::string& out) const {
    read([&out](std::string_view bytes) { out.append(bytes); });
}

namespace {

LogBoxMaker logBoxMaker = nullptr;

} // namespace

void installLogBox(LogBoxMaker maker) {
    logBoxMaker = maker;
}

RunLog::RunLog(QPlainTextEdit* memo) {
    if (memo) {
        if (!logBoxMaker)
            throw Error("The run log was given a box, but the window's code that shows it is not loaded");
        box_ = logBoxMaker(memo);
    } else {
        head_.append("\r\n"); // the empty line an empty box holds, which every run log begins with
    }
    sinceFlush_.start();
}

void RunLog::append(const QString& line) {
    // A text with line breaks inside is several lines.
    for (const QString& piece : line.split(QLatin1Char('\n')))
        appendCp1252(toCp1252(piece));
}

void RunLog::appendCp1252(std::string_view line) {
    pending_.append(line);
    pending_.append("\r\n");
    ++pendingLines_;
    maybeFlush();
}

void RunLog::maybeFlush() {
    if (sinceFlush_.elapsed() >= 50)
        flush();
}

void RunLog::flush() {
    sinceFlush_.restart();
    if (pendingLines_ == 0)
        return;
    if (!box_) {
        std::string_view lines(pending_.data(), pending_.size() - 2);
        const size_t at = lines.rfind("\r\n");
        lastLine_ = fromCp1252(at == std::string_view::npos ? lines : lines.substr(at + 2));
        head_.append(pending_);
        pending_.clear();
        pendingLines_ = 0;
        return;
    }
    // Lines that would be trimmed again at once never go through the box: only the ones still
    // shown after this batch are laid out.
    std::string_view shown(pending_);
    const bool longBatch = pendingLines_ > kShownLines;
    if (longBatch) {
        box_->moveTo(head_);
        size_t at = pending_.size() - 2;
        for (int n = 0; n < kShownLines; ++n)
            at = pending_.rfind("\r\n", at - 1);
        head_.append(std::string_view(pending_).substr(0, at + 2));
        shown = std::string_view(pending_).substr(at + 2);
    }
    box_->show(shown.substr(0, shown.size() - 2), longBatch, head_, kShownLines);
    pending_.clear();
    pendingLines_ = 0;
}

QStringList splitLines(std::string_view text) {
    QStringList out;
    for (size_t at = 0; at < text.size();) {
        size_t end = std::min(text.find("\r\n", at), text.size());
        out.append(fromCp1252(text.substr(at, end - at)));
        at = end + 2;
    }
    return out;
}

QString RunLog::lastLine() {
    flush();
    if (!box_)
        return lastLine_;
    // The newest lines are always in the box.
    return box_->lastLine();
}

QStringList RunLog::lines() {
    // The raw text keeps non-breaking blanks (toPlainText would turn them into blanks).
    std::string content = fileContent();
    content.resize(content.size() - 2);
    return splitLines(content);
}

std::string RunLog::fileContent() {
    std::string out;
    writeContent([&out](std::string_view bytes) { out.append(bytes); });
    return out;
}

void RunLog::writeContent(const LogHead::Sink& sink) {
    flush();
    head_.read(sink);
    if (!box_) {
        sink("\r\n");
        return;
    }
    std::string box;
    box_->appendTo(box);
    box += "\r\n";
    sink(box);
}

} // namespace vela
