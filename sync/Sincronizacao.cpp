#include "common/Error.h"
#include "common/Files.h"
#include "sync/TableCopier.h"
#include "sync/Tables.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <unistd.h>

namespace vela {

const std::array<CopyEntry, 18> tableCopies{{
    {"Estados", "sincronizaEstados", tables::estados},
    {"Usuários", "sincronizaUsuarios", tables::usuarios},
    {"Classificações Fiscais", "sincronizaClasFiscal", tables::clasFiscal},
    {"Produtos", "sincronizaProdutos", tables::produtos},
    {"Status", "sincronizaCategorias", tables::categorias},
    {"Empresa", "sincronizaEmpresas", tables::empresas},
    {"Cond. Pagamento", "sincronizaCondPagamentos", tables::condPagamento},
    {"Preço", "sincronizaTabelaPreco", tables::tabelaPreco},
    {"Transportadora", "sincronizaTransportadora", tables::transportadora},
    {"Config", "sincronizaConfig", tables::config},
    {"Area", "sincronizaArea", tables::area},
    {"Contato", "sincronizaContatosCliente", tables::contatoCliente},
    {"GPVendedor", "sincronizaGPVendedor", tables::gpVendedor},
    {"Pedido", "sincronizaPedido", tables::pedido},
    {"Produto Pedido", "sincronizaProdutoPedido", tables::produtoPedido},
    {"CotaNegociação", "sincronizaCotaNegociacao", tables::cotaNegociacao},
    {"AgendaVendedor", "sincronizaAgendaVendedor", tables::agendaVendedor},
    {"CVF", "sincronizaCVF", tables::cvf},
}};

const CopyEntry& findCopy(std::string_view method) {
    for (const CopyEntry& e : tableCopies)
        if (e.method == method)
            return e;
    throw Error("No table copy named " + std::string(method));
}

namespace {

// Forced writes off while the copies run, and set as the published file must have them once they
// are done. The engine changes the setting safely only with no other attachment open, so the
// mobile connection is closed around each change; it holds no rows yet at the start, and at the
// end closing it is what commits the last rows anyway. A run that fails or is stopped leaves its
// file to be thrown away, so nothing is put back then.
class ForcedWritesOff {
public:
    ForcedWritesOff(TDMSistemaCadastro& dm, std::optional<bool> after)
        : mobile_(dm.FDConnectionBancoMovel), was_(mobile_.forcedWrites()), after_(after.value_or(was_)) {
        if (was_) {
            mobile_.setForcedWrites(false);
            mobile_.open();
            dm.FDTransactionBancoMovel.start();
        }
    }
    ForcedWritesOff(const ForcedWritesOff&) = delete;
    ForcedWritesOff& operator=(const ForcedWritesOff&) = delete;

    // Closes the mobile connection, committing, and gives the file its setting.
    void close() {
        if (after_)
            mobile_.setForcedWrites(true);
        else
            mobile_.close();
    }

private:
    Connection& mobile_;
    bool was_;
    bool after_;
};

// Written without forced writes, the file's last pages may still sit in the system's cache.
void flushToDisk(const std::string& path) {
    if (!std::filesystem::is_regular_file(path))
        return; // a database on a server: its own engine writes it
    syncToDisk(path);
}

} // namespace

void sincronizaTabelas(TDMSistemaCadastro& dm, CopyHost& host, std::optional<bool> forcedWrites) {
    const std::string file = dm.FDConnectionBancoMovel.param("Database");
    ForcedWritesOff unforced(dm, forcedWrites);
    for (const CopyEntry& e : tableCopies)
        runTableCopy(e.copy, dm, host);
    unforced.close();
    flushToDisk(file);
}

} // namespace vela
