#include "db/Statement.h"

#include "common/Error.h"
#include "db/Connection.h"
#include "db/Transaction.h"

#include <algorithm>
#include <cctype>

namespace vela {

Statement::Statement(Connection& connection, std::string name, std::string sql)
    : connection_(connection), name_(std::move(name)) {
    connection_.attach(this);
    setSql(std::move(sql));
}

Statement::~Statement() {
    release();
    connection_.detach(this);
}

void Statement::setSql(std::string sql) {
    if (sql == sql_ && !sql_.empty())
        return;
    release();
    sql_ = std::move(sql);
    parsed_ = parseNamedParams(sql_);
    names_.clear();
    paramsByName_.clear();
    for (unsigned i = 0; i < parsed_.names.size(); ++i) {
        size_t k = 0;
        while (k < names_.size() && names_[k] != parsed_.names[i])
            ++k;
        if (k == names_.size()) {
            names_.push_back(parsed_.names[i]);
            paramsByName_.emplace_back();
        }
        paramsByName_[k].push_back(i);
    }
}

bool Statement::prepared() const {
    return handle_ && generation_ == connection_.generation();
}

void Statement::prepare() {
    if (prepared())
        return;
    release();
    fb::Status& st = connection_.status();
    Firebird::IAttachment* att = connection_.attachment();
    Transaction& tra = connection_.statementTransaction();
    handle_.reset(att->prepare(&st, tra.handle(), 0, parsed_.sql.c_str(), SQL_DIALECT_V6,
                               Firebird::IStatement::PREPARE_PREFETCH_METADATA));
    generation_ = connection_.generation();
    params_ = Message(handle_->getInputMetadata(&st), st);
    row_ = Message(handle_->getOutputMetadata(&st), st);
    // Parameter names come from the text, not from the server.
    for (size_t k = 0; k < names_.size(); ++k)
        for (unsigned pos : paramsByName_[k])
            if (pos < params_.size())
                const_cast<Column&>(params_.column(pos)).name = names_[k];
}

const std::vector<unsigned>& Statement::paramPositions(std::string_view name) const {
    static const std::vector<unsigned> none;
    auto same = [name](const std::string& upper) {
        return upper.size() == name.size() && std::equal(upper.begin(), upper.end(), name.begin(), [](char u, char c) {
                   return u == std::toupper(static_cast<unsigned char>(c));
               });
    };
    for (size_t k = 0; k < names_.size(); ++k)
        if (same(names_[k]))
            return paramsByName_[k];
    return none;
}

void Statement::setParamInt(std::string_view name, std::int64_t value) {
    prepare();
    for (unsigned pos : paramPositions(name))
        params_.setInt64(pos, value);
}

void Statement::execute() {
    prepare();
    Transaction& tra = connection_.statementTransaction();
    handle_->execute(&connection_.status(), tra.handle(), params_.metadata(), params_.data(), row_.metadata(),
                     row_.data());
}

void Statement::openCursor() {
    prepare();
    closeCursor();
    Transaction& tra = connection_.statementTransaction();
    cursor_.reset(handle_->openCursor(&connection_.status(), tra.handle(), params_.metadata(), params_.data(),
                                      row_.metadata(), 0));
}

bool Statement::fetch() {
    return cursor_->fetchNext(&connection_.status(), row_.data()) == Firebird::IStatus::RESULT_OK;
}

void Statement::closeCursor() {
    if (!cursor_)
        return;
    try {
        cursor_->close(&connection_.status());
        cursor_.forget();
    } catch (const Error&) {
        // Nothing to keep from a cursor that cannot close; its handle goes all the same.
    }
    cursor_.reset();
}

void Statement::release() {
    closeCursor();
    if (!handle_)
        return;
    if (generation_ == connection_.generation() && connection_.connected()) {
        try {
            handle_->free(&connection_.status());
            handle_.forget();
        } catch (const Error&) {
        }
    }
    handle_.reset();
}

void Query::open() {
    if (active())
        return;
    eof_ = true;
    statement_.openCursor();
    eof_ = !statement_.fetch();
}

void Query::close() {
    statement_.closeCursor();
    eof_ = true;
}

void Query::next() {
    if (!eof_)
        eof_ = !statement_.fetch();
}

size_t Query::field(std::string_view name) {
    statement_.prepare();
    int i = statement_.row().find(name);
    if (i < 0)
        throw Error("Field '" + std::string(name) + "' not found");
    return static_cast<size_t>(i);
}

void Command::execute(std::string_view sql) {
    statement_.setSql(std::string(sql));
    statement_.execute();
}

} // namespace vela
