#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vela {

// Follows the control connection as curl's debug stream shows it, so that a failure can be
// reported in the server's own words and a QUIT can be checked for its answer.
class FtpReplies {
public:
    // A command line curl sent (CURLINFO_HEADER_OUT). Only its verb is kept: the PASS line holds
    // the password.
    void commandSent(std::string_view line);
    // Text curl received on the control connection (CURLINFO_HEADER_IN), one or more lines.
    void received(std::string_view text);
    void clear();

    // The verb of the last command sent, upper case; empty before the first.
    const std::string& lastCommand() const { return lastCommand_; }
    // Whether the last command sent (or the greeting, before any) has a complete reply yet.
    bool answered() const { return code_ != 0; }
    // That reply: its code and its lines, joined by '\n', codes included.
    int code() const { return code_; }
    const std::string& text() const { return text_; }

    // The server's refusal behind a failed operation: the last reply of 400 or more, unless a
    // later command other than QUIT was answered positively, which means curl went on past it.
    std::optional<std::string> refusal() const;

private:
    void receivedLine(std::string_view line);
    void completed(int code, std::string text);

    std::string lastCommand_;
    int code_ = 0;
    std::string text_;
    int pendingCode_ = 0; // a multi-line reply being read
    std::string pendingText_;
    std::optional<std::string> refusal_;
};

} // namespace vela
