// The reading of maquinas.txt: whatever the bytes, the folder is the first line without its line
// end, taken as UTF-8 when it is and as Windows-1252 otherwise, and the Windows-1252 text survives
// the way to UTF-8 and back byte for byte.
#include "app/Maquinas.h"
#include "common/Cp1252.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string_view line = vela::maquinasFirstLine(bytes);
    if (line.data() != bytes.data() || line.size() > bytes.size())
        std::abort();
    if (line.find_first_of("\r\n") != std::string_view::npos)
        std::abort();
    if (line.size() < bytes.size() && bytes[line.size()] != '\r' && bytes[line.size()] != '\n')
        std::abort();

    // The line as it is when it was UTF-8, else read as Windows-1252.
    const std::string path = vela::sourcePathFromMaquinas(bytes, '/');
    const std::string utf8 = vela::cp1252::toUtf8(line);
    if (path != utf8 + "/BANCODADOS.FDB" && path != std::string(line) + "/BANCODADOS.FDB")
        std::abort();
    if (vela::cp1252::fromUtf8(utf8) != line)
        std::abort();

    // Text of any kind (a file saved as UTF-8, or garbage) becomes at most one byte a sequence.
    if (vela::cp1252::fromUtf8(bytes).size() > bytes.size())
        std::abort();
    return 0;
}
