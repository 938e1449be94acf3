#pragma once

#include "db/ModuloDadosCadastro.h"
#include "common/StopToken.h"
#include "sync/CopyHost.h"
#include "sync/TableCopy.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

// The row being copied, as the deviation hooks see it.
class CopyRow {
public:
    CopyRow(Message& source, Message& target) : source_(source), target_(target) {}

    Message& source() { return source_; }
    Message& target() { return target_; }
    // The source value of a column by the string rule (empty for NULL).
    std::string_view sourceString(std::string_view column) const;
    void setString(std::string_view column, std::string_view bytes);
    void setInt(std::string_view column, std::int64_t value);
    void setDate(std::string_view column, ISC_DATE value);

private:
    size_t targetIndex(std::string_view column) const;

    Message& source_;
    Message& target_;
};

// The table copy procedure over one copy's settings, deviations included: a key loop, a child
// copy per posted row, a continuation into the same table. Statements are prepared and columns
// bound once per copier, never per row.
class TableCopier {
public:
    TableCopier(const TableCopy& copy, TDMSistemaCadastro& dm, CopyHost& host);
    ~TableCopier();
    TableCopier(const TableCopier&) = delete;
    TableCopier& operator=(const TableCopier&) = delete;

    void run();

private:
    struct Binding {
        size_t from;
        size_t to;
        Rule rule;
        unsigned size;
    };

    // The child copy's part of run(): its rows of one parent, under the parent's new key.
    void runFor(std::int64_t parentTid, std::int64_t parentKey);
    void begin();
    void openSource();
    void openCursor();
    void openCount();
    void bind();
    void copyRow();
    void copyRows();
    void copyByKeys();
    void closeQueries();
    void end();
    void log(std::string_view utf8);
    // The host's chances to service events: once per row, and before each long database call.
    // A stop raised meanwhile ends the copy there.
    void events();
    void beforeLongCall();

    const TableCopy& copy_;
    TDMSistemaCadastro& dm_;
    CopyHost& host_;
    const StopToken* stop_;
    TableObjects& objects_;
    const ChildCopy* asChild_ = nullptr; // set when this copier runs a parent's child copy
    std::unique_ptr<TableCopier> child_;
    TableCopier* parent_ = nullptr; // the copier whose rows this child copy follows
    // A parent's count is of its children's rows (the products of the selected quotas): the child
    // rows copied so far against it show the progress of the whole child table.
    std::int64_t childRows_ = 0;
    std::int64_t childTotal_ = 0;
    std::vector<Binding> bindings_;
    std::vector<size_t> constantIndex_;
    bool bound_ = false;
    size_t logIndex_ = 0;
    size_t tidIndex_ = 0;       // the source TID handed to the child copy
    size_t parentKeyIndex_ = 0; // where a child row takes its parent's new key
    std::int64_t parentKey_ = 0;
    std::string prefix_; // the per-row literal in Windows-1252
    std::string line_;
};

void runTableCopy(const TableCopy& copy, TDMSistemaCadastro& dm, CopyHost& host);

} // namespace vela
