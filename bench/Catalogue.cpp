#include "bench/Catalogue.h"

#include "sync/Tables.h"

#include <algorithm>
#include <variant>

namespace vela::bench {

namespace {

// "INSERT INTO ESTADO (..." -> "ESTADO".
std::string_view insertTable(std::string_view insert) {
    insert.remove_prefix(std::min(insert.size(), std::string_view("INSERT INTO ").size()));
    return insert.substr(0, insert.find(' '));
}

std::string replaced(std::string text, std::string_view what, std::string_view with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

std::string upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

// The copy's own SELECT wrapped so that its columns come out under the mobile names, with the
// copy's constants. A parameter of the copy's key loop or of its parent becomes the whole set of
// keys. Values that only a hook computes (the settings date, a quota's cancellation reason) are
// left out: the baseline inserts NULL there.
std::string rawSelect(const TableCopy& copy) {
    std::string columns;
    auto add = [&columns](const std::string& expression, std::string_view target) {
        columns += (columns.empty() ? "" : ", ") + expression + " as " + std::string(target);
    };
    for (const FieldCopy& f : copy.fields)
        add(std::string(f.source), f.target);
    for (const Constant& c : copy.constants) {
        if (const auto* text = std::get_if<std::string_view>(&c.value))
            add("'" + std::string(*text) + "'", c.target);
        else
            add(std::to_string(std::get<std::int64_t>(c.value)), c.target);
    }
    std::string from(copy.selectSql);
    if (!copy.keys.sql.empty())
        from = replaced(from, ":" + std::string(copy.keys.param), "any (" + std::string(copy.keys.sql) + ")");
    return "select " + columns + " from (" + from + ")";
}

void addCopy(CopyEntry& entry, const TableCopy& copy) {
    std::string_view table = insertTable(copy.insertSql);
    if (std::find(entry.mobileTables.begin(), entry.mobileTables.end(), table) == entry.mobileTables.end())
        entry.mobileTables.push_back(table);
    entry.raw.push_back({table, rawSelect(copy)});
    if (const TableCopy* child = copy.child.copy) {
        // The child rows of every parent row: the parent's key comes from the child's column of
        // the parameter's name, the source key rather than the one the mobile database would give.
        std::string_view childTable = insertTable(child->insertSql);
        if (std::find(entry.mobileTables.begin(), entry.mobileTables.end(), childTable) == entry.mobileTables.end())
            entry.mobileTables.push_back(childTable);
        std::string param = upper(copy.child.param);
        std::string select = rawSelect(*child);
        select.replace(0, 7, "select " + param + " as " + std::string(copy.child.keyColumn) + ", ");
        select = replaced(select, ":" + std::string(copy.child.param),
                          "any (select TID from (" + std::string(copy.selectSql) + "))");
        entry.raw.push_back({childTable, select});
    }
    if (copy.then)
        addCopy(entry, *copy.then);
}

} // namespace

const std::vector<CopyEntry>& catalogue() {
    static const std::vector<CopyEntry> entries = [] {
        std::vector<CopyEntry> out;
        for (const vela::CopyEntry& e : tableCopies) {
            CopyEntry entry{e.method, e.copy.header, &e.copy, {}, {}};
            addCopy(entry, e.copy);
            // Parents before children, as the mobile keys require.
            std::stable_partition(entry.raw.begin(), entry.raw.end(),
                                  [&](const RawPart& p) { return p.mobileTable == entry.mobileTables.front(); });
            out.push_back(std::move(entry));
        }
        return out;
    }();
    return entries;
}

const CopyEntry* findCopy(std::string_view name) {
    for (const CopyEntry& e : catalogue())
        if (e.name == name)
            return &e;
    return nullptr;
}

} // namespace vela::bench
