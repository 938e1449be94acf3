#pragma once

#include <cstdint>
#include <string>

namespace vela {

// The size in bytes of the file to upload. The file must be free: one that another process holds
// open for writing, or locks (an attached Firebird engine does both), is refused, so that a
// database still being written is never sent half-done.
//
// Throws vela::Error("Cannot open file \"<full path>\". <reason>"), the reason being the system's
// text ("No such file or directory", "Permission denied", ...) or, for a busy file,
// "The file is in use by another process."
std::int64_t tamanhoArquivo(const std::string& path);

} // namespace vela
