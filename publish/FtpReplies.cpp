#include "publish/FtpReplies.h"

#include <cctype>

namespace vela {
namespace {

// "DDD " ends a reply, "DDD-" opens a multi-line one; 0 when the line is neither.
int replyCode(std::string_view line, char separator) {
    if (line.size() < 3)
        return 0;
    for (int i = 0; i < 3; ++i)
        if (!std::isdigit(static_cast<unsigned char>(line[i])))
            return 0;
    const char next = line.size() > 3 ? line[3] : ' ';
    if (next != separator)
        return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

std::string_view withoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

} // namespace

void FtpReplies::commandSent(std::string_view line) {
    line = withoutLineEnd(line);
    lastCommand_.assign(line.substr(0, line.find(' ')));
    for (char& c : lastCommand_)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    code_ = 0;
    text_.clear();
    pendingCode_ = 0;
    pendingText_.clear();
}

void FtpReplies::received(std::string_view text) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        receivedLine(withoutLineEnd(line));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

void FtpReplies::receivedLine(std::string_view line) {
    if (pendingCode_ != 0) {
        pendingText_ += '\n';
        pendingText_ += line;
        if (replyCode(line, ' ') == pendingCode_) {
            const int code = pendingCode_;
            pendingCode_ = 0;
            completed(code, std::move(pendingText_));
            pendingText_.clear();
        }
        return;
    }
    if (const int code = replyCode(line, ' ')) {
        completed(code, std::string(line));
    } else if (const int opening = replyCode(line, '-')) {
        pendingCode_ = opening;
        pendingText_.assign(line);
    }
    // A line that neither ends nor opens a reply belongs to none and tells nothing.
}

void FtpReplies::completed(int code, std::string text) {
    code_ = code;
    text_ = std::move(text);
    if (code >= 400)
        refusal_ = text_;
    else if (lastCommand_ != "QUIT")
        refusal_.reset();
}

void FtpReplies::clear() {
    *this = FtpReplies();
}

std::optional<std::string> FtpReplies::refusal() const {
    return refusal_;
}

} // namespace vela
