#pragma once

#include <cstdint>
#include <string_view>
#include <variant>
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

// A value every row gets whatever its source row holds: an integer or 8-bit text.
struct Constant {
    std::string_view target;
    std::variant<std::int64_t, std::string_view> value;
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

struct TableCopy;

// Rows read one key at a time: the key selection yields the keys (column TID), and the source
// SELECT reads the rows of one key through its parameter. The gauge counts keys.
struct KeyLoop {
    std::string_view name; // the key selection's object name
    std::string_view sql;
    std::string_view param;
};

// A copy run after every posted row, for the rows that belong to it: its SELECT and count take the
// parent row's source TID as the parameter, and the key the mobile database gave the parent row
// (the INSERT's RETURNING) goes into keyColumn of each of its rows.
struct ChildCopy {
    const TableCopy* copy = nullptr;
    std::string_view param;
    std::string_view keyColumn;
};

// A table copy is its settings; the one procedure (TableCopier) runs them. A copy without header
// line continues the one before it (no header, no DELETE); one without end line is continued. Texts are UTF-8 here
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
    bool cursorOnSource = false;          // the insert cursor's SELECT runs on the source connection
    bool commitAfterPost = false;         // commit-retaining after every posted row
    std::vector<Constant> constants = {}; // after the field copies
    RowHook beforePost = nullptr;         // after the constants, before the post
    KeyLoop keys = {};
    ChildCopy child = {};
    // A further selection into the same table, run after this one under the same header: it
    // writes the end line, this one none.
    const TableCopy* then = nullptr;
};

} // namespace vela
