#include "publish/RemotePath.h"

#include "common/Cp1252.h"
#include "common/Error.h"

#include <algorithm>
#include <cstdint>

namespace vela {
namespace {

constexpr std::size_t kFolderCharacters = 10;
constexpr std::string_view kDownloads = "/www/downloads/";
constexpr std::string_view kFileName = "/BANCODADOS.gdb";

bool isBlankOrControl(char c) {
    return static_cast<std::uint8_t>(c) <= 0x20;
}

// The undefined Windows-1252 bytes convert to C1 controls, so they count as controls too.
bool isControl(char c) {
    const auto b = static_cast<std::uint8_t>(c);
    return b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

std::string folderBytes(std::string_view tradeName) {
    std::string_view piece = tradeName.substr(0, kFolderCharacters);
    while (!piece.empty() && isBlankOrControl(piece.front()))
        piece.remove_prefix(1);
    while (!piece.empty() && isBlankOrControl(piece.back()))
        piece.remove_suffix(1);
    std::string folder(piece);
    std::erase(folder, ' ');
    return folder;
}

} // namespace

std::string remoteFolder(std::string_view tradeName) {
    return cp1252::toUtf8(folderBytes(tradeName));
}

std::string remotePath(std::string_view tradeName) {
    std::string path(kDownloads);
    path += remoteFolder(tradeName);
    path += kFileName;
    return path;
}

void checkRemoteFolder(std::string_view tradeName) {
    const std::string folder = folderBytes(tradeName);
    const bool unsafe =
        folder.empty() || folder == "." || folder == ".." ||
        std::any_of(folder.begin(), folder.end(), [](char c) { return c == '/' || c == '\\' || isControl(c); });
    if (unsafe)
        throw Error("Pasta remota inválida: " + cp1252::toUtf8(folder));
}

} // namespace vela
