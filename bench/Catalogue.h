#pragma once

#include "sync/TableCopy.h"

#include <string>
#include <string_view>
#include <vector>

namespace vela::bench {

// The same rows as a table copy takes, as one SELECT whose column names are the mobile table's
// columns: what the raw baseline and the server-side copy insert.
struct RawPart {
    std::string_view mobileTable;
    std::string select;
};

// One of the eighteen table copies, in the run's order, as the program's own list has them.
struct CopyEntry {
    std::string_view name;   // sincronizaX
    std::string_view header; // its header line (UTF-8), which marks its start in the run log
    const TableCopy* copy;
    std::vector<std::string_view> mobileTables;
    std::vector<RawPart> raw;
};

const std::vector<CopyEntry>& catalogue();
const CopyEntry* findCopy(std::string_view name);

} // namespace vela::bench
