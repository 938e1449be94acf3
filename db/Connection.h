#pragma once

#include "db/Firebird.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vela {

class Transaction;
class Statement;

// A database connection configured by a parameter list ("Database=...", "User_Name=...",
// "Password=...", "DriverID=FB|IB"). Both drivers go through the Firebird client: a plain file path
// opens in embedded mode, "host:path" goes to a server. Strings travel as character set NONE, so
// 8-bit text passes byte for byte.
class Connection {
public:
    Connection(std::string name, std::vector<std::string> params);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& name() const { return name_; }
    std::string param(const std::string& key) const;
    // Changing a parameter of an open connection closes it first.
    void setParam(const std::string& key, const std::string& value);
    const std::vector<std::string>& params() const { return params_; }

    void open();
    // Commits the default transaction when it is active, then detaches.
    void close();
    bool connected() const { return static_cast<bool>(attachment_); }
    // Opens on demand.
    Firebird::IAttachment* attachment();
    // The status every call on this connection reports through.
    fb::Status& status() { return status_; }

    // The database's forced-writes setting, read on this connection.
    bool forcedWrites();
    // Whether the engine keeps room on each data page for later versions of its rows (the default;
    // off after `gfix -use full`), read on this connection.
    bool reservesSpace();
    // Change them through an attachment of its own while no other is open: close this connection
    // first (committing its transaction), leave it closed. A setting not given stays as it is.
    void setForcedWrites(bool on);
    void setFileSettings(std::optional<bool> forcedWrites, std::optional<bool> reserveSpace);
    // Bumped at every open: statements prepared on an older attachment prepare again.
    std::uint64_t generation() const { return generation_; }

    // The transaction every statement on this connection runs in. Without a default transaction
    // the connection runs its statements in a read-only transaction of its own.
    void setDefaultTransaction(Transaction* transaction) { defaultTransaction_ = transaction; }
    Transaction* defaultTransaction() const { return defaultTransaction_; }
    Transaction& statementTransaction();

    void attach(Statement* statement);
    void detach(Statement* statement);

private:
    void releaseStatements();
    // A new attachment with this connection's parameters; the file settings given are set on it.
    fb::Handle<Firebird::IAttachment> attachNew(std::optional<bool> forcedWrites = std::nullopt,
                                                std::optional<bool> reserveSpace = std::nullopt);
    // A yes/no item of the database's information.
    bool infoFlag(unsigned char item);

    std::string name_;
    std::vector<std::string> params_;
    fb::Status status_;
    fb::Handle<Firebird::IAttachment> attachment_;
    std::uint64_t generation_ = 0;
    Transaction* defaultTransaction_ = nullptr;
    std::unique_ptr<Transaction> readTransaction_;
    std::vector<Statement*> statements_;
};

} // namespace vela
