#pragma once

#include "db/Statement.h"

#include <functional>

namespace vela {

// Where the new rows of a table copy are inserted. Its own SELECT is opened and never read;
// posting runs the INSERT of its update object, each NEW_ parameter taking the new row's value of
// that column, NULL where the row has none.
class InsertCursor {
public:
    InsertCursor(Connection& selectConnection, std::string name, std::string selectSql, Statement& updateSql)
        : select_(selectConnection, std::move(name), std::move(selectSql)), update_(updateSql) {}

    const std::string& name() const { return select_.name(); }
    Query& select() { return select_; }
    Statement& updateSql() { return update_; }

    void open() { select_.open(); }
    void close() { select_.close(); }
    bool active() const { return select_.active(); }

    // Begins a new row: every field without value.
    Message& append() {
        update_.prepare();
        update_.params().setAllNull();
        return update_.params();
    }
    Message& newRow() { return update_.params(); }
    void post() {
        update_.execute();
        if (afterPost)
            afterPost();
    }

    std::function<void()> afterPost;

private:
    Query select_;
    Statement& update_;
};

} // namespace vela
