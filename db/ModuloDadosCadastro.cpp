#include "db/ModuloDadosCadastro.h"

namespace vela {

TableObjects::TableObjects(Connection& source, Connection& mobile, const std::string& suffix, bool cursorOnSource)
    : vela(source, "FDQueryVela" + suffix), conta(source, "FDQueryVelaConta" + suffix),
      updateSql(mobile, "FDUpdateSQLMovel" + suffix),
      movel(cursorOnSource ? source : mobile, "FDQueryMovel" + suffix, {}, updateSql) {}

TDMSistemaCadastro::TDMSistemaCadastro(const Paths& paths)
    : FDConnectionBancoVela("FDConnectionBancoVela", {"Database=" + paths.sourceDatabase, "User_Name=" + paths.sourceUser,
                                                      "Password=" + paths.sourcePassword, "DriverID=FB"}),
      FDConnectionBancoMovel("FDConnectionBancoMovel", {"Database=" + paths.mobileDatabase, "User_Name=sysdba",
                                                        "Password=quillfern", "DriverID=IB"}),
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
