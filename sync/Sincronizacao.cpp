#include "common/Error.h"
#include "sync/TableCopier.h"
#include "sync/Tables.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
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

// Forced writes off for as long as it lives, on again when the copies are done or, on a failure or
// a stop, in its destructor: the published file must carry the template's setting. The engine
// changes the setting safely only with no other attachment open, so the mobile connection is
// closed around each change; it holds no rows yet at the start, and at the end closing it is what
// commits the last rows anyway.
class ForcedWritesOff {
public:
    explicit ForcedWritesOff(TDMSistemaCadastro& dm)
        : mobile_(dm.FDConnectionBancoMovel), was_(mobile_.forcedWrites()) {
        if (was_) {
            mobile_.setForcedWrites(false);
            mobile_.open();
            dm.FDTransactionBancoMovel.start();
        }
    }
    ~ForcedWritesOff() {
        if (!was_)
            return;
        try {
            mobile_.setForcedWrites(true);
        } catch (...) {
            // The failure being reported matters more; the file is rebuilt on the next run.
        }
    }
    ForcedWritesOff(const ForcedWritesOff&) = delete;
    ForcedWritesOff& operator=(const ForcedWritesOff&) = delete;

    // Closes the mobile connection, committing, and puts forced writes back.
    void close() {
        if (was_) {
            was_ = false;
            mobile_.setForcedWrites(true);
        } else {
            mobile_.close();
        }
    }

private:
    Connection& mobile_;
    bool was_;
};

// Written without forced writes, the file's last pages may still sit in the system's cache.
void flushToDisk(const std::string& path) {
    if (!std::filesystem::is_regular_file(path))
        return; // a database on a server: its own engine writes it
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw fileError("flush", path, error);
    }
    ::close(fd);
}

} // namespace

void sincronizaTabelas(TDMSistemaCadastro& dm, CopyHost& host) {
    const std::string file = dm.FDConnectionBancoMovel.param("Database");
    ForcedWritesOff unforced(dm);
    for (const CopyEntry& e : tableCopies)
        runTableCopy(e.copy, dm, host);
    unforced.close();
    flushToDisk(file);
}

} // namespace vela
