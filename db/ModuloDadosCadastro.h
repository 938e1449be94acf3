#pragma once

#include "db/Connection.h"
#include "db/InsertCursor.h"
#include "db/Statement.h"
#include "db/Transaction.h"

#include <map>
#include <memory>
#include <string>

namespace vela {

// The objects of one table copy, named by the table's suffix: FDQueryVela<suffix> (source query),
// FDQueryVelaConta<suffix> (count), FDUpdateSQLMovel<suffix> (INSERT) and FDQueryMovel<suffix>
// (insert cursor).
struct TableObjects {
    TableObjects(Connection& source, Connection& mobile, const std::string& suffix, bool cursorOnSource);

    Query vela;
    Query conta;
    Statement updateSql;
    InsertCursor movel;
};

// Owns every database object of the program: both connections, their transactions, the scratch
// command, the company query and the statements of the table copies.
class TDMSistemaCadastro {
public:
    struct Paths {
        std::string sourceDatabase;
        std::string mobileDatabase;
        // The back office's account; a server may have its own SYSDBA password.
        std::string sourceUser = "sysdba";
        std::string sourcePassword = "quillfern";
    };

    // Page caches of the databases this process opens itself: the source is read once, page after
    // page; the mobile file is written page after page, each page once (at 1,000,000 rows 128 pages
    // read and write exactly what 256 did).
    static constexpr int kSourceCachePages = 128;
    static constexpr int kMobileCachePages = 128;

    explicit TDMSistemaCadastro(const Paths& paths);
    ~TDMSistemaCadastro();
    TDMSistemaCadastro(const TDMSistemaCadastro&) = delete;
    TDMSistemaCadastro& operator=(const TDMSistemaCadastro&) = delete;

    Connection FDConnectionBancoVela;
    Connection FDConnectionBancoMovel;
    Transaction FDTransactionBancoMovel;
    // Bound to the source connection but never started: source statements run in the
    // connection's own read-only transactions.
    Transaction FDTransactionBancoVela;
    Command FDQueryDeletar;
    Query FDQueryEmpresa;

    // The objects of a table copy, made on first use.
    TableObjects& table(const std::string& suffix, bool cursorOnSource = false);
    // A further named query of a table copy, made on first use with its text.
    Query& query(const std::string& name, Connection& connection, const std::string& sql = {});

    // Closes both connections; closing the mobile one commits its transaction.
    void release();

private:
    std::map<std::string, std::unique_ptr<TableObjects>> tables_;
    std::map<std::string, std::unique_ptr<Query>> queries_;
};

} // namespace vela
