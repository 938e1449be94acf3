#include "db/ModuloDadosCadastro.h"

#include <cctype>

namespace vela {

TableObjects::TableObjects(Connection& source, Connection& mobile, const std::string& suffix, bool cursorOnSource)
    : vela(source, "FDQueryVela" + suffix), conta(source, "FDQueryVelaConta" + suffix),
      updateSql(mobile, "FDUpdateSQLMovel" + suffix),
      movel(cursorOnSource ? source : mobile, "FDQueryMovel" + suffix, {}, updateSql) {}

namespace {

// A database opened by path is opened by this process's own engine; one named host:/path,
// host/port:/path or inet://host/path lives on a server, whose cache other programs share and which
// is not ours to size or to tune.
bool embedded(const std::string& database) {
    const size_t colon = database.find(':');
    const bool driveLetter = colon == 1 && std::isalpha(static_cast<unsigned char>(database[0]));
    return database.empty() || database[0] == '/' || colon == std::string::npos || driveLetter;
}

std::vector<std::string> withOwnEngineSettings(std::vector<std::string> params, const std::string& database, int pages) {
    if (embedded(database)) {
        params.push_back("CachePages=" + std::to_string(pages));
        params.push_back("GCPolicy=cooperative");
    }
    return params;
}

} // namespace

TDMSistemaCadastro::TDMSistemaCadastro(const Paths& paths)
    : FDConnectionBancoVela("FDConnectionBancoVela",
                            withOwnEngineSettings({"Database=" + paths.sourceDatabase, "User_Name=" + paths.sourceUser,
                                       "Password=" + paths.sourcePassword, "DriverID=FB"},
                                      paths.sourceDatabase, kSourceCachePages)),
      FDConnectionBancoMovel("FDConnectionBancoMovel",
                             withOwnEngineSettings({"Database=" + paths.mobileDatabase, "User_Name=sysdba", "Password=quillfern",
                                        "DriverID=IB"},
                                       paths.mobileDatabase, kMobileCachePages)),
      FDTransactionBancoMovel(FDConnectionBancoMovel, Transaction::Mode::ReadCommitted),
      FDTransactionBancoVela(FDConnectionBancoVela, Transaction::Mode::ReadOnly),
      FDQueryDeletar(FDConnectionBancoMovel, "FDQueryDeletar"),
      FDQueryEmpresa(FDConnectionBancoVela, "FDQueryEmpresa",
                     "select tid, nomefantasia from empresa where empresa.tipoempresa = 'E' and empresa.ativo = 1") {
    FDConnectionBancoMovel.setDefaultTransaction(&FDTransactionBancoMovel);
}

TDMSistemaCadastro::~TDMSistemaCadastro() {
    try {
        release();
    } catch (...) {
    }
}

TableObjects& TDMSistemaCadastro::table(const std::string& suffix, bool cursorOnSource) {
    auto& slot = tables_[suffix];
    if (!slot)
        slot = std::make_unique<TableObjects>(FDConnectionBancoVela, FDConnectionBancoMovel, suffix, cursorOnSource);
    return *slot;
}

Query& TDMSistemaCadastro::query(const std::string& name, Connection& connection, const std::string& sql) {
    auto& slot = queries_[name];
    if (!slot)
        slot = std::make_unique<Query>(connection, name, sql);
    return *slot;
}

void TDMSistemaCadastro::release() {
    FDConnectionBancoMovel.close();
    FDConnectionBancoVela.close();
}

} // namespace vela
