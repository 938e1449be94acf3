#pragma once

#include <string>
#include <string_view>

namespace vela {

// The path with every byte other than letters, digits, "-._~" and the separating '/'
// percent-encoded, as curl decodes the path of a URL.
std::string escapedPath(std::string_view path);

// The curl URL that names remotePath on the server. curl percent-decodes the path of an FTP URL
// and, storing without walking folders, sends what follows the first '/' as the STOR argument;
// so an absolute path starts with an encoded '/' ("%2F"). Every byte other than letters, digits,
// "-._~" and the separating '/' is percent-encoded, which keeps UTF-8 letters, blanks, '%', ';'
// (curl's ";type=" suffix) and '#' or '?' intact on their way through the URL.
std::string ftpUrl(std::string_view host, int port, std::string_view remotePath);

} // namespace vela
