#include "publish/FtpUrl.h"

#include "common/Error.h"

#include <curl/curl.h>
#include <memory>

namespace vela {

std::string escapedPath(std::string_view path) {
    struct Free {
        void operator()(char* text) const noexcept { curl_free(text); }
    };
    std::string out;
    for (size_t from = 0;;) {
        const size_t slash = path.find('/', from);
        const std::string_view part = path.substr(from, slash == std::string_view::npos ? slash : slash - from);
        if (!part.empty()) {
            // curl's escape needs no handle: it keeps letters, digits and "-._~" as they are.
            const std::unique_ptr<char, Free> escaped(
                curl_easy_escape(nullptr, part.data(), static_cast<int>(part.size())));
            if (!escaped)
                throw Error("curl_easy_escape failed", CURLE_OUT_OF_MEMORY);
            out += escaped.get();
        }
        if (slash == std::string_view::npos)
            return out;
        out += '/';
        from = slash + 1;
    }
}

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
    return url + escapedPath(remotePath);
}

} // namespace vela
