#include "app/Maquinas.h"

#include "common/Cp1252.h"

#include <iconv.h>

namespace vela {

std::string_view maquinasFirstLine(std::string_view bytes) {
    return bytes.substr(0, bytes.find_first_of("\r\n"));
}

namespace {

// Whether iconv takes the bytes for UTF-8 whole: no invalid or cut sequence.
bool validUtf8(std::string_view bytes) {
    iconv_t cd = ::iconv_open("UTF-8", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string in(bytes);
    std::string out(in.size() + 4, '\0');
    char* from = in.data();
    char* to = out.data();
    std::size_t fromLeft = in.size(), toLeft = out.size();
    const bool whole = ::iconv(cd, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1) && fromLeft == 0;
    ::iconv_close(cd);
    return whole;
}

} // namespace

std::string sourcePathFromMaquinas(std::string_view bytes, char separator) {
    const std::string_view line = maquinasFirstLine(bytes);
    std::string path = validUtf8(line) ? std::string(line) : cp1252::toUtf8(line);
    path += separator;
    path += "BANCODADOS.FDB";
    return path;
}

} // namespace vela
