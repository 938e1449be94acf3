#pragma once

#include <string>
#include <string_view>

namespace vela {

// Where the mobile database goes on the publishing server: "/www/downloads/" + folder +
// "/BANCODADOS.gdb", the folder taken from the company's trade name. All three functions take the
// trade name as it comes from the back-office database, Windows-1252 bytes, one byte a character.

// The folder as UTF-8: the first 10 characters of the trade name, with every character of code
// U+0020 or lower removed from both ends, then every blank removed. Empty for an empty name.
std::string remoteFolder(std::string_view tradeName);

// The whole remote path as UTF-8. An empty folder gives "/www/downloads//BANCODADOS.gdb".
std::string remotePath(std::string_view tradeName);

// Throws vela::Error("Pasta remota inválida: " + folder) when the folder could leave
// "/www/downloads/" or cannot be sent in an FTP command: it holds '/', '\' or a control character
// (C0, DEL or C1), or is "." or "..", or is empty (a blank trade name: no device looks there).
void checkRemoteFolder(std::string_view tradeName);

} // namespace vela
