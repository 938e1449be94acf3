#pragma once

#include "db/Message.h"
#include "db/NamedParams.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

class Connection;

// A statement on a connection, prepared once (again only when its text changes or the connection
// was reopened). Parameters are named in the text (":tid") and set by name; the row and
// parameter buffers are allocated at prepare time and reused.
class Statement {
public:
    Statement(Connection& connection, std::string name, std::string sql = {});
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    const std::string& name() const { return name_; }
    Connection& connection() const { return connection_; }
    const std::string& sql() const { return sql_; }
    void setSql(std::string sql);

    void prepare();
    bool prepared() const;

    Message& params() { return params_; }
    Message& row() { return row_; }
    // Positions of a named parameter; empty when the text has none of that name.
    const std::vector<unsigned>& paramPositions(std::string_view name) const;
    void setParamInt(std::string_view name, std::int64_t value);

    // Runs a statement without a cursor (a RETURNING clause fills row()).
    void execute();
    void openCursor();
    bool fetch(); // false at end of data
    void closeCursor();
    bool cursorOpen() const { return static_cast<bool>(cursor_); }

    // Drops the server handles; called by the connection when it closes.
    void release();

private:
    Connection& connection_;
    std::string name_;
    std::string sql_;
    ParsedSql parsed_;
    fb::Handle<Firebird::IStatement> handle_;
    fb::Handle<Firebird::IResultSet> cursor_;
    std::uint64_t generation_ = 0;
    Message params_;
    Message row_;
    std::vector<std::vector<unsigned>> paramsByName_;
    std::vector<std::string> names_;
};

// A SELECT read row by row: open stands on the first row.
class Query {
public:
    Query(Connection& connection, std::string name, std::string sql = {})
        : statement_(connection, std::move(name), std::move(sql)) {}

    Statement& statement() { return statement_; }
    const std::string& name() const { return statement_.name(); }
    void setSql(std::string sql) {
        close();
        statement_.setSql(std::move(sql));
    }
    void open();
    void close();
    bool active() const { return statement_.cursorOpen(); }
    bool eof() const { return eof_; }
    void next();
    Message& row() { return statement_.row(); }
    // The index of a result column; throws "Field '%s' not found".
    size_t field(std::string_view name);

private:
    Statement statement_;
    bool eof_ = true;
};

// Runs a statement text given at each use, without result.
class Command {
public:
    Command(Connection& connection, std::string name) : statement_(connection, std::move(name)) {}
    const std::string& name() const { return statement_.name(); }
    void execute(std::string_view sql);

private:
    Statement statement_;
};

} // namespace vela
