#include "app/RunLog.h"

#include "common/Cp1252.h"
#include "common/Error.h"
#include "common/Files.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

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

RunLog::RunLog(QPlainTextEdit* memo) : memo_(memo) {
    // An undo history would keep every text the box was ever given, the lines moved to the head
    // included, so memory would grow with the whole run and not with its shown tail (the same
    // reason QPlainTextEdit drops undo when it keeps a maximum block count).
    if (memo_)
        memo_->setUndoRedoEnabled(false);
    else
        head_.append("\r\n"); // the empty line an empty box holds, which every run log begins with
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
    if (!memo_) {
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
    if (pendingLines_ > kShownLines) {
        moveBoxToHead();
        size_t at = pending_.size() - 2;
        for (int n = 0; n < kShownLines; ++n)
            at = pending_.rfind("\r\n", at - 1);
        head_.append(std::string_view(pending_).substr(0, at + 2));
        shown = std::string_view(pending_).substr(at + 2);
    }
    QString text = fromCp1252(shown.substr(0, shown.size() - 2));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextDocument* doc = memo_->document();
    if (doc->isEmpty() && pendingLines_ > kShownLines) {
        doc->setPlainText(text);
    } else {
        // Appending at the end keeps whatever the user typed above; one insertion per batch.
        QTextCursor cursor(doc);
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
        cursor.insertText(text);
    }
    pending_.clear();
    pendingLines_ = 0;
    trim();
    if (QScrollBar* bar = memo_->verticalScrollBar())
        bar->setValue(bar->maximum());
}

namespace {

// The text of a document split at its block separators.
QStringList splitBlocks(const QString& raw) {
    QStringList out;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= raw.size(); ++i) {
        if (i == raw.size() || raw[i] == QChar::ParagraphSeparator || raw[i] == QLatin1Char('\n') ||
            raw[i] == QChar::LineSeparator) {
            out.append(raw.mid(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

} // namespace

void RunLog::trim() {
    QTextDocument* doc = memo_->document();
    int excess = doc->blockCount() - kShownLines;
    if (excess < kShownLines)
        return;
    // Blocks are read and the selection is set by position: moving a cursor block by block lays
    // out (shapes) every line it passes, which cost more than the whole table copy.
    QTextBlock keep = doc->findBlockByNumber(excess);
    for (QTextBlock block = doc->begin(); block != keep; block = block.next()) {
        for (const QString& line : splitBlocks(block.text())) {
            head_.append(toCp1252(line));
            head_.append("\r\n");
        }
    }
    QTextCursor cursor(doc);
    cursor.setPosition(0);
    cursor.setPosition(keep.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void RunLog::moveBoxToHead() {
    for (const QString& line : splitBlocks(memo_->document()->toRawText())) {
        head_.append(toCp1252(line));
        head_.append("\r\n");
    }
    memo_->document()->clear();
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
    if (!memo_)
        return lastLine_;
    // The newest lines are always in the box.
    return splitBlocks(memo_->document()->lastBlock().text()).last();
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
    if (!memo_) {
        sink("\r\n");
        return;
    }
    std::string box;
    for (const QString& line : splitBlocks(memo_->document()->toRawText())) {
        box += toCp1252(line);
        box += "\r\n";
    }
    box += "\r\n";
    sink(box);
}

} // namespace vela
