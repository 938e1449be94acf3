#include "app/RunLog.h"

#include "db/Cp1252.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace vela {

QString fromCp1252(std::string_view bytes) {
    QString s(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = s.data();
    for (unsigned char b : bytes)
        *out++ = QChar(cp1252::toUnicode(b));
    return s;
}

std::string toCp1252(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar c : text)
        out.push_back(static_cast<char>(cp1252::fromUnicode(c.unicode())));
    return out;
}

RunLog::RunLog(QPlainTextEdit* memo) : memo_(memo) { sinceFlush_.start(); }

void RunLog::append(const QString& line) {
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
    QChar* out = pending_.data() + at;
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
    if (QScrollBar* bar = memo_->verticalScrollBar())
        bar->setValue(bar->maximum());
}

QStringList RunLog::lines() {
    flush();
    // The raw text keeps non-breaking blanks (toPlainText would turn them into blanks); blocks
    // are separated by U+2029.
    QString raw = memo_->document()->toRawText();
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

std::string RunLog::fileContent() {
    std::string out;
    for (const QString& line : lines()) {
        out += toCp1252(line);
        out += "\r\n";
    }
    out += "\r\n";
    return out;
}

} // namespace vela
