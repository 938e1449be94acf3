#pragma once

#include <string>
#include <string_view>

namespace vela {

// Text read from the back-office database is Windows-1252; everything that leaves the program for
// the FTP server is UTF-8. Bytes that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// become the C1 control characters of the same value, as the Windows conversion does.
std::string windows1252ToUtf8(std::string_view text);

} // namespace vela
