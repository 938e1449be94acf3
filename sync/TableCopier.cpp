#include "sync/TableCopier.h"

#include "common/Cp1252.h"
#include "common/Error.h"
#include "sync/CopyRules.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <utility>

namespace vela {

namespace {

// Hooks name their columns on every row, so the lookup builds no string (Message::find does).
int findColumn(const Message& m, std::string_view prefix, std::string_view column) {
    for (size_t i = 0; i < m.size(); ++i) {
        std::string_view name = m.column(i).name;
        if (name.size() != prefix.size() + column.size() || !name.starts_with(prefix))
            continue;
        size_t k = 0;
        while (k < column.size() && name[prefix.size() + k] == std::toupper(static_cast<unsigned char>(column[k])))
            ++k;
        if (k == column.size())
            return static_cast<int>(i);
    }
    return -1;
}

// "***** Tabela Produto Pedido *****" -> "Produto Pedido".
std::string_view tableTitle(std::string_view header) {
    constexpr std::string_view head = "***** Tabela ", tail = " *****";
    if (header.starts_with(head))
        header.remove_prefix(head.size());
    if (header.ends_with(tail))
        header.remove_suffix(tail.size());
    return header;
}

} // namespace

size_t CopyRow::targetIndex(std::string_view column) const {
    int i = findColumn(target_, "NEW_", column);
    if (i < 0)
        throw Error("Field '" + std::string(column) + "' not found");
    return static_cast<size_t>(i);
}

std::string_view CopyRow::sourceString(std::string_view column) const {
    int i = findColumn(source_, {}, column);
    if (i < 0)
        throw Error("Field '" + std::string(column) + "' not found");
    return readString(source_, static_cast<size_t>(i));
}

void CopyRow::setString(std::string_view column, std::string_view bytes) {
    target_.setBytes(targetIndex(column), bytes);
}

void CopyRow::setInt(std::string_view column, std::int64_t value) {
    target_.setInt64(targetIndex(column), value);
}

void CopyRow::setDate(std::string_view column, ISC_DATE value) {
    target_.setDate(targetIndex(column), value);
}

TableCopier::TableCopier(const TableCopy& copy, TDMSistemaCadastro& dm, CopyHost& host)
    : copy_(copy), dm_(dm), host_(host), stop_(host.stopToken()), objects_(dm.table(std::string(copy.suffix), copy.cursorOnSource)),
      prefix_(cp1252::fromUtf8(copy.log.prefix)) {
    // Every run starts from the declared texts, whatever an earlier run left in them.
    objects_.vela.setSql(std::string(copy.selectSql));
    objects_.conta.setSql(std::string(copy.countSql));
    objects_.movel.select().setSql(std::string(copy.cursorSql));
    objects_.updateSql.setSql(std::string(copy.insertSql));
    if (copy.commitAfterPost) {
        Transaction& t = dm.FDTransactionBancoMovel;
        objects_.movel.afterPost = [&t] { t.commitRetaining(); };
    }
}

TableCopier::~TableCopier() = default;

void TableCopier::log(std::string_view utf8) {
    host_.appendLog(cp1252::fromUtf8(utf8));
}

void TableCopier::events() {
    host_.processEvents();
    if (stop_)
        stop_->check();
}

void TableCopier::beforeLongCall() {
    host_.betweenCalls();
    if (stop_)
        stop_->check();
}

void TableCopier::begin() {
    if (!copy_.header.empty()) {
        log(copy_.header);
        host_.tableStarted(tableTitle(copy_.header));
    }
    if (!copy_.deleteSql.empty()) {
        dm_.FDQueryDeletar.execute(copy_.deleteSql);
        if (!copy_.alsoDeleteSql.empty())
            dm_.FDQueryDeletar.execute(copy_.alsoDeleteSql);
        dm_.FDTransactionBancoMovel.commitRetaining();
    }
}

void TableCopier::openSource() {
    Query& q = objects_.vela;
    q.close();
    q.open();
    if (!bound_)
        bind();
}

void TableCopier::openCursor() {
    objects_.movel.close();
    objects_.movel.open();
}

void TableCopier::openCount() {
    if (!host_.showsCounts())
        return;
    Query& c = objects_.conta;
    c.close();
    c.open();
    std::int64_t count = 0;
    if (!c.eof() && c.row().size() > 0 && !c.row().isNull(0))
        count = c.row().getInt64(0);
    if (count > std::numeric_limits<int>::max())
        count = std::numeric_limits<int>::max();
    host_.setGaugePosition(0);
    host_.setGaugeMaximum(static_cast<int>(count));
    if (copy_.child.copy) {
        childTotal_ = count;
        childRows_ = 0;
    }
}

namespace {

size_t targetColumn(Message& insert, std::string_view column) {
    int to = insert.find("NEW_" + std::string(column));
    if (to < 0)
        throw Error("Field '" + std::string(column) + "' not found");
    return static_cast<size_t>(to);
}

} // namespace

void TableCopier::bind() {
    // Column positions are looked up once per copier, never per row.
    Message& src = objects_.vela.row();
    objects_.updateSql.prepare();
    Message& dst = objects_.updateSql.params();
    bindings_.clear();
    for (const FieldCopy& f : copy_.fields) {
        size_t from = objects_.vela.field(f.source);
        checkDeclaredType(src.column(from), f.source, f.rule);
        bindings_.push_back({from, targetColumn(dst, f.target), f.rule, f.size});
    }
    constantIndex_.clear();
    for (const Constant& c : copy_.constants)
        constantIndex_.push_back(targetColumn(dst, c.target));
    if (copy_.log.value != LogValue::None) {
        if (copy_.log.fromNewRow) {
            logIndex_ = targetColumn(dst, copy_.log.column);
        } else {
            logIndex_ = objects_.vela.field(copy_.log.column);
            checkDeclaredType(src.column(logIndex_), copy_.log.column,
                              copy_.log.value == LogValue::String ? Rule::String : Rule::Integer);
        }
    }
    if (copy_.child.copy)
        tidIndex_ = objects_.vela.field("TID");
    if (asChild_)
        parentKeyIndex_ = targetColumn(dst, asChild_->keyColumn);
    bound_ = true;
}

void TableCopier::copyRow() {
    events();
    Message& src = objects_.vela.row();
    Message& dst = objects_.movel.append();
    for (const Binding& b : bindings_)
        copyField(src, b.from, dst, b.to, b.rule, b.size);
    if (asChild_)
        dst.setInt64(parentKeyIndex_, parentKey_);
    for (size_t i = 0; i < constantIndex_.size(); ++i) {
        const auto& value = copy_.constants[i].value;
        if (const auto* text = std::get_if<std::string_view>(&value))
            dst.setBytes(constantIndex_[i], *text);
        else
            dst.setInt64(constantIndex_[i], std::get<std::int64_t>(value));
    }
    if (copy_.beforePost) {
        CopyRow row(src, dst);
        copy_.beforePost(row);
    }
    objects_.movel.post();
    if (parent_)
        host_.childRowCopied(++parent_->childRows_, parent_->childTotal_);
    host_.rowCopied();
    if (copy_.log.value != LogValue::None) {
        const Message& m = copy_.log.fromNewRow ? dst : src;
        line_.assign(prefix_);
        if (copy_.log.value == LogValue::String) {
            line_.append(readString(m, logIndex_));
        } else if (!m.isNull(logIndex_)) {
            char digits[24];
            auto r = std::to_chars(digits, digits + sizeof digits, m.getInt64(logIndex_));
            line_.append(digits, r.ptr);
        } else {
            line_.push_back('0');
        }
        host_.appendLog(line_);
    }
    if (copy_.child.copy) {
        if (!child_) {
            child_ = std::make_unique<TableCopier>(*copy_.child.copy, dm_, host_);
            child_->asChild_ = &copy_.child;
            child_->parent_ = this;
        }
        // The key the mobile database gave the row, as the 32-bit column the child rows keep.
        auto key = static_cast<std::int32_t>(objects_.updateSql.row().getInt64(0));
        child_->runFor(src.getInt64(tidIndex_), key);
    }
}

void TableCopier::copyRows() {
    Query& q = objects_.vela;
    while (!q.eof()) {
        copyRow();
        q.next();
        host_.stepGauge();
    }
}

// Two levels: the key selection yields each key once, the source query reads that key's rows. The
// gauge steps once per key.
void TableCopier::copyByKeys() {
    Query& keys = dm_.query(std::string(copy_.keys.name), dm_.FDConnectionBancoVela);
    keys.setSql(std::string(copy_.keys.sql));
    keys.close();
    keys.open();
    beforeLongCall();
    const size_t tid = keys.field("TID");
    openCount();
    beforeLongCall();
    openCursor();
    Query& rows = objects_.vela;
    while (!keys.eof()) {
        rows.close();
        rows.statement().setParamInt(copy_.keys.param, keys.row().getInt64(tid));
        openSource();
        while (!rows.eof()) {
            copyRow();
            rows.next();
        }
        keys.next();
        host_.stepGauge();
    }
    keys.close();
}

void TableCopier::closeQueries() {
    objects_.movel.close();
    objects_.vela.close();
}

void TableCopier::end() {
    if (copy_.endLine.empty())
        return;
    host_.appendLog({});
    log(copy_.endLine);
    host_.appendLog({});
}

void TableCopier::run() {
    begin();
    beforeLongCall();
    if (!copy_.keys.sql.empty()) {
        copyByKeys();
    } else {
        openSource();
        beforeLongCall();
        openCursor();
        openCount();
        beforeLongCall();
        copyRows();
    }
    closeQueries();
    end();
    if (copy_.then) {
        TableCopier next(*copy_.then, dm_, host_);
        if (copy_.then->child.copy == copy_.child.copy && child_) {
            next.child_ = std::move(child_); // prepared once for both selections
            next.child_->asChild_ = &copy_.then->child;
            next.child_->parent_ = &next;
        }
        next.run();
    }
}

void TableCopier::runFor(std::int64_t parentTid, std::int64_t parentKey) {
    parentKey_ = parentKey;
    begin();
    if (!objects_.movel.active())
        openCursor();
    Query& rows = objects_.vela;
    rows.close();
    rows.statement().setParamInt(asChild_->param, parentTid);
    openSource();
    objects_.conta.close();
    objects_.conta.statement().setParamInt(asChild_->param, parentTid);
    openCount();
    copyRows();
    closeQueries();
    end();
}

void runTableCopy(const TableCopy& copy, TDMSistemaCadastro& dm, CopyHost& host) {
    TableCopier(copy, dm, host).run();
}

} // namespace vela
