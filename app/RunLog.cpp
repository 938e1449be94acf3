#include "app/RunLog.h"

#include "db/Cp1252.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace vela {

QString fromCp1252(std::string_view bytes) {
    QString s(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar *out = s.data();
    for (unsigned char b : bytes)
        *out++ = QChar(cp1252::toUnicode(b));
    return s;
}

std::string toCp1252(const QString &text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text)
        out.push_back(static_cast<char>(cp1252::fromUnicode(c.unicode())));
    return out;
}

RunLog::RunLog(QPlainTextEdit *memo) : memo_(memo) {
    sinceFlush_.start();
}

void RunLog::append(const QString &line) {
    if (hasPending_)
        pending_.append(QLatin1Char('\n'));
    pending_.append(line);
    hasPending_ = true;
    maybeFlush();
}

void RunLog::appendCp1252(std::string_view line) {
    if (hasPending_)
        pending_.append(QLatin1Char('\n'));
    qsizetype at = pending_.size();
    pending_.resize(at + static_cast<qsizetype>(line.size()));
    QChar *out = pending_.data() + at;
    for (unsigned char b : line)
        *out++ = QChar(cp1252::toUnicode(b));
    hasPending_ = true;
    maybeFlush();
}

void RunLog::maybeFlush() {
    if (sinceFlush_.elapsed() >= 50)
        flush();
}

void RunLog::flush() {
    sinceFlush_.restart();
    if (!hasPending_)
        return;
    // Appending at the end keeps whatever the user typed above; one insertion per batch.
    QTextCursor cursor(memo_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(pending_);
    pending_.clear();
    hasPending_ = false;
    trim();
    if (QScrollBar *bar = memo_->verticalScrollBar())
        bar->setValue(bar->maximum());
}

namespace {

// The text of a document split at its block separators.
QStringList splitBlocks(const QString &raw) {
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
    QTextDocument *doc = memo_->document();
    int excess = doc->blockCount() - kShownLines;
    if (excess < kShownLines)
        return;
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, excess);
    // The selection ends at the start of the first kept block, so its last piece is empty.
    QStringList moved = splitBlocks(cursor.selection().toRawText());
    moved.removeLast();
    for (const QString &line : moved) {
        head_ += toCp1252(line);
        head_ += "\r\n";
    }
    cursor.removeSelectedText();
}

QStringList RunLog::lines() {
    // The raw text keeps non-breaking blanks (toPlainText would turn them into blanks).
    std::string content = fileContent();
    content.resize(content.size() - 2);
    QStringList out;
    for (size_t at = 0; at < content.size();) {
        size_t end = content.find("\r\n", at);
        out.append(fromCp1252(std::string_view(content).substr(at, end - at)));
        at = end + 2;
    }
    return out;
}

std::string RunLog::fileContent() {
    flush();
    std::string out = head_;
    for (const QString &line : splitBlocks(memo_->document()->toRawText())) {
        out += toCp1252(line);
        out += "\r\n";
    }
    out += "\r\n";
    return out;
}

} // namespace vela
