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

// The file's settings while the copies run, and those the published file must have once they are
// done. Forced writes off, since the file is rebuilt on every run. No room kept on its data pages for
// later versions of the rows, which a file written once and then only read on the devices never
// needs: its pages fill, and the file every device downloads is that much smaller. The engine changes
// these settings safely only with no other attachment open, so the mobile connection is closed
// around each change; it holds no rows yet at the start, and at the end closing it is what commits
// the last rows anyway. A run that fails or is stopped leaves its file to be thrown away, so
// nothing is put back then.
class BuildSettings {
public:
    BuildSettings(TDMSistemaCadastro& dm, std::optional<bool> forcedWrites, std::optional<bool> reserveSpace)
        : mobile_(dm.FDConnectionBancoMovel), forced_(mobile_.forcedWrites()), reserve_(mobile_.reservesSpace()),
          forcedAfter_(forcedWrites.value_or(forced_)), reserveAfter_(reserveSpace.value_or(reserve_)) {
        if (forced_ || reserve_) {
            mobile_.setFileSettings(false, false);
            mobile_.open();
            dm.FDTransactionBancoMovel.start();
        }
    }
    BuildSettings(const BuildSettings&) = delete;
    BuildSettings& operator=(const BuildSettings&) = delete;

    // Closes the mobile connection, committing, and gives the file its settings.
    void close() {
        if (forcedAfter_ || reserveAfter_)
            mobile_.setFileSettings(forcedAfter_, reserveAfter_);
        else
            mobile_.close();
    }

private:
    Connection& mobile_;
    bool forced_;
    bool reserve_;
    bool forcedAfter_;
    bool reserveAfter_;
};

// Written without forced writes, the file's last pages may still sit in the system's cache.
void flushToDisk(const std::string& path) {
    if (!std::filesystem::is_regular_file(path))
        return; // a database on a server: its own engine writes it
    syncToDisk(path);
}

} // namespace

void sincronizaTabelas(TDMSistemaCadastro& dm, CopyHost& host, std::optional<bool> forcedWrites,
                       std::optional<bool> reserveSpace) {
    const std::string file = dm.FDConnectionBancoMovel.param("Database");
    BuildSettings settings(dm, forcedWrites, reserveSpace);
    for (const CopyEntry& e : tableCopies)
        runTableCopy(e.copy, dm, host);
    settings.close();
    flushToDisk(file);
}

} // namespace vela
