#include "app/Maquinas.h"

#include "common/Cp1252.h"
#include "common/Error.h"

#include <cerrno>
#include <fstream>
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

std::string readMaquinasLine(const std::string& path, const std::function<void()>& beforeEachChunk) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw fileError("open", path, errno);
    // A folder's path ends within kMaquinasLineMax: a longer line is refused without reading on.
    std::string line;
    char chunk[4096];
    for (;;) {
        beforeEachChunk();
        const std::size_t read = static_cast<std::size_t>(in.read(chunk, sizeof chunk).gcount());
        if (in.bad())
            throw fileError("read", path, errno);
        const std::string_view got(chunk, read);
        const std::size_t end = got.find_first_of("\r\n");
        line.append(got.substr(0, end));
        if (line.size() > kMaquinasLineMax)
            throw Error("A primeira linha de \"" + path + "\" passa de " + std::to_string(kMaquinasLineMax) +
                        " bytes: ela deve ser a pasta do banco de retaguarda.");
        if (end != std::string_view::npos || read < sizeof chunk)
            return line;
    }
}

std::string sourcePathFromMaquinas(std::string_view bytes, char separator) {
    const std::string_view line = maquinasFirstLine(bytes);
    std::string path = validUtf8(line) ? std::string(line) : cp1252::toUtf8(line);
    path += separator;
    path += "BANCODADOS.FDB";
    return path;
}

} // namespace vela
