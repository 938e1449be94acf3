#include "app/Maquinas.h"

#include "common/Cp1252.h"

namespace vela {

std::string_view maquinasFirstLine(std::string_view bytes) {
    return bytes.substr(0, bytes.find_first_of("\r\n"));
}

std::string sourcePathFromMaquinas(std::string_view bytes, char separator) {
    std::string path = cp1252::toUtf8(maquinasFirstLine(bytes));
    path += separator;
    path += "BANCODADOS.FDB";
    return path;
}

} // namespace vela
