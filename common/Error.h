#pragma once

#include <stdexcept>
#include <string>

namespace vela {

// The one failure type of the program. Its text is the message of whoever failed (the database
// client, curl, the FTP server, the file system), exactly as the run log or the error box shows it.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, long code = 0) : std::runtime_error(message), code_(code) {}
    long code() const noexcept { return code_; }

private:
    long code_;
};

} // namespace vela
