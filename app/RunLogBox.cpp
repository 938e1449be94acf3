#include "app/RunLogBox.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace vela {

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

class PlainTextLogBox : public LogBox {
public:
    explicit PlainTextLogBox(QPlainTextEdit* memo) : memo_(memo) {
        // An undo history would keep every text the box was ever given, the lines moved to the head
        // included, so memory would grow with the whole run and not with its shown tail (the same
        // reason QPlainTextEdit drops undo when it keeps a maximum block count).
        memo_->setUndoRedoEnabled(false);
    }

    void moveTo(LogHead& head) override {
        for (const QString& line : splitBlocks(memo_->document()->toRawText())) {
            head.append(toCp1252(line));
            head.append("\r\n");
        }
        memo_->document()->clear();
    }

    void show(std::string_view lines, bool replaceWhenEmpty, LogHead& head, int keep) override {
        QString text = fromCp1252(lines);
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QTextDocument* doc = memo_->document();
        if (doc->isEmpty() && replaceWhenEmpty) {
            doc->setPlainText(text);
        } else {
            // Appending at the end keeps whatever the user typed above; one insertion per batch.
            QTextCursor cursor(doc);
            cursor.movePosition(QTextCursor::End);
            cursor.insertBlock();
            cursor.insertText(text);
        }
        trim(head, keep);
        if (QScrollBar* bar = memo_->verticalScrollBar())
            bar->setValue(bar->maximum());
    }

    QString lastLine() override { return splitBlocks(memo_->document()->lastBlock().text()).last(); }

    void appendTo(std::string& out) override {
        for (const QString& line : splitBlocks(memo_->document()->toRawText())) {
            out += toCp1252(line);
            out += "\r\n";
        }
    }

private:
    void trim(LogHead& head, int keep) {
        QTextDocument* doc = memo_->document();
        int excess = doc->blockCount() - keep;
        if (excess < keep)
            return;
        // Blocks are read and the selection is set by position: moving a cursor block by block lays
        // out (shapes) every line it passes, which cost more than the whole table copy.
        QTextBlock kept = doc->findBlockByNumber(excess);
        for (QTextBlock block = doc->begin(); block != kept; block = block.next()) {
            for (const QString& line : splitBlocks(block.text())) {
                head.append(toCp1252(line));
                head.append("\r\n");
            }
        }
        QTextCursor cursor(doc);
        cursor.setPosition(0);
        cursor.setPosition(kept.position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }

    QPlainTextEdit* memo_;
};

} // namespace

std::unique_ptr<LogBox> makeLogBox(QPlainTextEdit* memo) {
    return std::make_unique<PlainTextLogBox>(memo);
}

} // namespace vela
