#include "db/Statement.h"

#include "db/Connection.h"
#include "common/Error.h"
#include "db/Transaction.h"

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
    fb::Status st;
    Firebird::IAttachment* att = connection_.attachment();
    Transaction& tra = connection_.statementTransaction();
    handle_ = att->prepare(&st, tra.handle(), 0, parsed_.sql.c_str(), SQL_DIALECT_V6,
                           Firebird::IStatement::PREPARE_PREFETCH_METADATA);
    generation_ = connection_.generation();
    params_ = Message(handle_->getInputMetadata(&st));
    row_ = Message(handle_->getOutputMetadata(&st));
    // Parameter names come from the text, not from the server.
    for (size_t k = 0; k < names_.size(); ++k)
        for (unsigned pos : paramsByName_[k])
            if (pos < params_.size())
                const_cast<Column&>(params_.column(pos)).name = names_[k];
}

const std::vector<unsigned>& Statement::paramPositions(std::string_view name) const {
    static const std::vector<unsigned> none;
    std::string key(name);
    for (auto& c : key)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (size_t k = 0; k < names_.size(); ++k)
        if (names_[k] == key)
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
    fb::Status st;
    Transaction& tra = connection_.statementTransaction();
    handle_->execute(&st, tra.handle(), params_.metadata(), params_.data(), row_.metadata(), row_.data());
}

void Statement::openCursor() {
    prepare();
    closeCursor();
    fb::Status st;
    Transaction& tra = connection_.statementTransaction();
    cursor_ = handle_->openCursor(&st, tra.handle(), params_.metadata(), params_.data(), row_.metadata(), 0);
}

bool Statement::fetch() {
    fb::Status st;
    return cursor_->fetchNext(&st, row_.data()) == Firebird::IStatus::RESULT_OK;
}

void Statement::closeCursor() {
    if (!cursor_)
        return;
    fb::Status st;
    try {
        cursor_->close(&st);
    } catch (const Error&) {
        cursor_->release();
    }
    cursor_ = nullptr;
}

void Statement::release() {
    if (cursor_) {
        try {
            closeCursor();
        } catch (...) {
        }
        cursor_ = nullptr;
    }
    if (handle_) {
        if (generation_ == connection_.generation() && connection_.connected()) {
            fb::Status st;
            try {
                handle_->free(&st);
            } catch (const Error&) {
                handle_->release();
            }
        } else {
            handle_->release();
        }
        handle_ = nullptr;
    }
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
