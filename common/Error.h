#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

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

// A file the system refused: Cannot <action> file "<path>". <the system's reason>
inline Error fileError(std::string_view action, std::string_view path, int error, long code = 0) {
    return Error("Cannot " + std::string(action) + " file \"" + std::string(path) + "\". " +
                     std::generic_category().message(error),
                 code);
}

} // namespace vela
