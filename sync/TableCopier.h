#pragma once

#include "db/ModuloDadosCadastro.h"
#include "sync/CopyHost.h"
#include "sync/TableCopy.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

// The row being copied, as the deviation hooks see it.
class CopyRow {
public:
    CopyRow(Message& source, Message& target, std::int64_t extra = 0)
        : source_(source), target_(target), extra_(extra) {}

    Message& source() { return source_; }
    Message& target() { return target_; }
    // The source value of a column by the string rule (empty for NULL).
    std::string_view sourceString(std::string_view column) const;
    void setString(std::string_view column, std::string_view bytes);
    void setInt(std::string_view column, std::int64_t value);
    void setDate(std::string_view column, ISC_DATE value);
    // The copier's per-row hook argument (TableCopier::extra).
    std::int64_t extra() const { return extra_; }

private:
    size_t targetIndex(std::string_view column) const;

    Message& source_;
    Message& target_;
    std::int64_t extra_;
};

// The table copy procedure. run() is the whole procedure; the copies with a loop of their own
// (orders, quotas) compose the same steps.
class TableCopier {
public:
    TableCopier(const TableCopy& copy, TDMSistemaCadastro& dm, CopyHost& host);

    void run();

    // Header line, DELETE, commit-retaining.
    void begin();
    // Closes and reopens the source query (checking its declared fields).
    void openSource();
    void openCursor();
    // Closes and reopens the count query; sets the gauge to 0 of COUNT.
    void openCount();
    // Copies the source query's current row: events, new row, field copies, hook, post, log line.
    void copyRow();
    // The row loop over the source query, one gauge step per row.
    void copyRows();
    // Closes the insert cursor and the source query.
    void closeQueries();
    // Empty line, end line, empty line.
    void end();

    TableObjects& objects() { return objects_; }
    Query& source() { return objects_.vela; }
    // What the INSERT's RETURNING clause gave for the row just posted (a key the mobile database
    // assigned).
    Message& returned() { return objects_.updateSql.row(); }
    // Per-row hook argument for the copies that need more than the settings; the hook reads it
    // as CopyRow::extra().
    std::int64_t extra = 0;

private:
    struct Binding {
        size_t from;
        size_t to;
        Rule rule;
        unsigned size;
    };

    void bind();
    void log(std::string_view utf8);

    const TableCopy& copy_;
    TDMSistemaCadastro& dm_;
    CopyHost& host_;
    TableObjects& objects_;
    std::vector<Binding> bindings_;
    std::string prefix_; // the per-row literal in Windows-1252
    std::string line_;
    size_t logIndex_ = 0;
};

void runTableCopy(const TableCopy& copy, TDMSistemaCadastro& dm, CopyHost& host);

} // namespace vela
