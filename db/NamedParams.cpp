#include "db/NamedParams.h"

#include <cctype>

namespace vela {

namespace {
bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}
} // namespace

ParsedSql parseNamedParams(std::string_view text) {
    ParsedSql out;
    out.sql.reserve(text.size());
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == '\'' || c == '"') {
            // Literal or quoted identifier; a doubled quote stays inside it.
            size_t j = i + 1;
            while (j < n) {
                if (text[j] == c) {
                    if (j + 1 < n && text[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            size_t end = j < n ? j + 1 : n;
            out.sql.append(text.substr(i, end - i));
            i = end;
        } else if (c == '-' && i + 1 < n && text[i + 1] == '-') {
            size_t j = text.find('\n', i);
            size_t end = j == std::string_view::npos ? n : j;
            out.sql.append(text.substr(i, end - i));
            i = end;
        } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
            size_t j = text.find("*/", i + 2);
            size_t end = j == std::string_view::npos ? n : j + 2;
            out.sql.append(text.substr(i, end - i));
            i = end;
        } else if (c == ':' && i + 1 < n && isNameChar(text[i + 1])) {
            size_t j = i + 1;
            while (j < n && isNameChar(text[j]))
                ++j;
            std::string name(text.substr(i + 1, j - i - 1));
            for (auto& ch : name)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            out.names.push_back(std::move(name));
            out.sql.push_back('?');
            i = j;
        } else {
            out.sql.push_back(c);
            ++i;
        }
    }
    return out;
}

} // namespace vela
