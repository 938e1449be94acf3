#pragma once

#include <string_view>
#include <vector>

namespace vela {

class CopyRow;

// How a field is read from the source row and written to the new mobile row.
enum class Rule { Integer, Smallint, String, Timestamp, Currency, Bcd, Date };

struct FieldCopy {
    std::string_view target; // mobile column, bound to the INSERT's NEW_<target>
    std::string_view source; // source column
    Rule rule;
    unsigned size = 0; // strings: at most this many bytes are written
};

enum class LogValue { None, String, Integer };

// The per-row log line: a literal followed by one value of the row.
struct RowLog {
    std::string_view prefix;
    std::string_view column;
    LogValue value = LogValue::None;
    bool fromNewRow = false; // the value is read from the mobile row just posted
};

using RowHook = void (*)(CopyRow& row);

// A table copy is its settings; the one procedure (TableCopier) runs them. Texts are UTF-8 here
// and Windows-1252 in the run log.
struct TableCopy {
    std::string_view suffix; // names the data-module objects: FDQueryVela<suffix>, ...
    std::string_view header;
    std::string_view deleteSql;
    // A second table emptied with this one, before the same commit-retaining: a table whose rows
    // only this copy writes and which must not outlive the rows they belong to.
    std::string_view alsoDeleteSql = {};
    std::string_view selectSql;
    std::string_view countSql;
    std::string_view cursorSql; // the insert cursor's own SELECT
    std::string_view insertSql;
    std::vector<FieldCopy> fields;
    RowLog log;
    std::string_view endLine;

    // Deviations.
    bool cursorOnSource = false;  // the insert cursor's SELECT runs on the source connection
    bool commitAfterPost = false; // commit-retaining after every posted row
    RowHook beforePost = nullptr; // after the field copies, before the post
};

} // namespace vela
