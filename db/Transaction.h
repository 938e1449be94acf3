#pragma once

#include "db/Firebird.h"

namespace vela {

class Connection;

class Transaction {
public:
    enum class Mode { ReadCommitted, ReadOnly };

    Transaction(Connection& connection, Mode mode);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    Connection& connection() const { return connection_; }
    bool active() const { return static_cast<bool>(handle_); }
    void start();
    // Makes the work done so far durable and keeps the transaction open.
    void commitRetaining();
    void commit();
    void rollback();
    // Starts the transaction when it is not active.
    Firebird::ITransaction* handle();

    // Used by the connection when it goes away: commits what is pending. A failed commit is
    // rolled back, let go of and reported.
    void endWithConnection();
    // Ends the transaction without keeping anything and without failing: for reads only.
    void drop() noexcept;

private:
    Connection& connection_;
    Mode mode_;
    fb::Handle<Firebird::ITransaction> handle_;
};

} // namespace vela
