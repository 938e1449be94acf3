// The named-parameter parser against a plain state machine written apart from it: both must turn
// the same text into the same statement and names. A ':name' inside a quoted literal, a quoted
// identifier or a comment is not a parameter, and the text around the parameters is unchanged.
#include "db/NamedParams.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool nameChar(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
}

vela::ParsedSql reference(const std::string& t) {
    enum class In { Code, Quote, LineComment, BlockComment } in = In::Code;
    char quote = 0;
    vela::ParsedSql out;
    for (size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        const char next = i + 1 < t.size() ? t[i + 1] : '\0';
        const bool hasNext = i + 1 < t.size();
        switch (in) {
        case In::Code:
            if (c == '\'' || c == '"') {
                in = In::Quote;
                quote = c;
                out.sql += c;
            } else if (c == '-' && hasNext && next == '-') {
                in = In::LineComment;
                out.sql += "--";
                ++i;
            } else if (c == '/' && hasNext && next == '*') {
                in = In::BlockComment;
                out.sql += "/*";
                ++i;
            } else if (c == ':' && hasNext && nameChar(static_cast<unsigned char>(next))) {
                std::string name;
                while (i + 1 < t.size() && nameChar(static_cast<unsigned char>(t[i + 1]))) {
                    char n = t[++i];
                    name += (n >= 'a' && n <= 'z') ? static_cast<char>(n - 'a' + 'A') : n;
                }
                out.names.push_back(name);
                out.sql += '?';
            } else {
                out.sql += c;
            }
            break;
        case In::Quote:
            out.sql += c;
            if (c == quote) {
                if (hasNext && next == quote) {
                    out.sql += next;
                    ++i;
                } else {
                    in = In::Code;
                }
            }
            break;
        case In::LineComment:
            out.sql += c;
            if (c == '\n')
                in = In::Code;
            break;
        case In::BlockComment:
            out.sql += c;
            if (c == '*' && hasNext && next == '/') {
                out.sql += '/';
                ++i;
                in = In::Code;
            }
            break;
        }
    }
    return out;
}

size_t count(const std::string& s, char c) {
    size_t n = 0;
    for (char x : s)
        n += x == c;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const vela::ParsedSql parsed = vela::parseNamedParams(text);
    const vela::ParsedSql expected = reference(text);
    if (parsed.sql != expected.sql || parsed.names != expected.names)
        std::abort();
    // One marker for every name, and nothing else added.
    if (count(parsed.sql, '?') != count(text, '?') + parsed.names.size())
        std::abort();
    for (const auto& name : parsed.names) {
        if (name.empty())
            std::abort();
        for (unsigned char c : name)
            if (!nameChar(c) || (c >= 'a' && c <= 'z'))
                std::abort();
    }
    return 0;
}
