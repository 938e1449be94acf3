#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vela {

// maquinas.txt names the folder of the back-office database on its first line. The line ends at
// the first LF or CR, so a file written on Windows gives the folder without its CR; nothing else
// is trimmed, and an empty file gives an empty line.
std::string_view maquinasFirstLine(std::string_view bytes);

// The longest first line taken: a folder's path, never more. A longer one is refused unread.
inline constexpr std::size_t kMaquinasLineMax = 4096;

// The first line of the file at path (as the file system names it), read only as far as its end: in chunks, each
// searched once, beforeEachChunk run before each (a stop may throw from it). Throws Error when the
// file cannot be read or its first line is longer than kMaquinasLineMax.
std::string readMaquinasLine(const std::string& path, const std::function<void()>& beforeEachChunk);

// The source path the first line gives, as UTF-8: the line as it is when it is valid UTF-8 (a file
// saved by a current editor), else read as Windows-1252 (the file of older installations), then
// the separator and "BANCODADOS.FDB".
std::string sourcePathFromMaquinas(std::string_view bytes, char separator);

} // namespace vela
