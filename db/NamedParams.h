#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vela {

// A statement text with its named parameters (":name") turned into positional markers ("?").
// A colon inside a quoted literal, a quoted identifier or a comment is not a parameter.
struct ParsedSql {
    std::string sql;
    std::vector<std::string> names; // upper-cased, one per marker, in order
};

ParsedSql parseNamedParams(std::string_view text);

} // namespace vela
