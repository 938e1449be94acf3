#include "publish/FtpUrl.h"

#include <cstdint>

namespace vela {
namespace {

bool keepsAsIs(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/';
}

void appendEncoded(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : text) {
        if (keepsAsIs(c)) {
            out += c;
        } else {
            const auto b = static_cast<std::uint8_t>(c);
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
}

} // namespace

std::string ftpUrl(std::string_view host, int port, std::string_view remotePath) {
    std::string url = "ftp://";
    url += host;
    url += ':';
    url += std::to_string(port);
    url += '/';
    if (!remotePath.empty() && remotePath.front() == '/') {
        url += "%2F";
        remotePath.remove_prefix(1);
    }
    appendEncoded(url, remotePath);
    return url;
}

} // namespace vela
