// The remote path rule on any trade name: the fixed parts stay in place, the folder is at most ten
// characters without blanks or blanks and controls at its ends, and a folder that passes the
// check is not empty and cannot leave the downloads folder.
#include "common/Cp1252.h"
#include "common/Error.h"
#include "publish/RemotePath.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

bool endsWith(const std::string& s, std::string_view tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const std::string folderUtf8 = vela::remoteFolder(name);
    const std::string path = vela::remotePath(name);
    if (path != "/www/downloads/" + folderUtf8 + "/BANCODADOS.gdb" || !endsWith(path, "/BANCODADOS.gdb"))
        std::abort();

    // Back to the trade name's bytes: a piece of its first ten, blanks out, ends trimmed.
    const std::string folder = vela::cp1252::fromUtf8(folderUtf8);
    if (vela::cp1252::toUtf8(folder) != folderUtf8)
        std::abort();
    if (folder.size() > 10 || folder.find(' ') != std::string::npos)
        std::abort();
    if (!folder.empty() &&
        (static_cast<unsigned char>(folder.front()) <= 0x20 || static_cast<unsigned char>(folder.back()) <= 0x20))
        std::abort();
    std::string head(name.substr(0, 10));
    std::erase(head, ' ');
    if (head.find(folder) == std::string::npos)
        std::abort();

    bool accepted = true;
    try {
        vela::checkRemoteFolder(name);
    } catch (const vela::Error&) {
        accepted = false;
    }
    if (accepted) {
        if (folder.empty() || folder == "." || folder == "..")
            std::abort();
        for (unsigned char c : folder)
            if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F)
                std::abort();
    } else if (!folder.empty() && folder.find_first_of("/\\") == std::string::npos && folder != "." && folder != "..") {
        bool control = false;
        for (unsigned char c : folder)
            control = control || c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
        if (!control)
            std::abort(); // refused a folder that is safe
    }
    return 0;
}
