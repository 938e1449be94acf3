#include "common/Error.h"
#include "sync/TableCopier.h"
#include "sync/Tables.h"

#include <cerrno>
#include <cstring>
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

// Forced writes off for as long as it lives, on again at restore() or, on a failure or a stop, in
// its destructor: the published file must carry the template's setting.
class ForcedWritesOff {
public:
    explicit ForcedWritesOff(Connection& mobile) : mobile_(mobile), was_(mobile.forcedWrites()) {
        if (was_)
            mobile_.setForcedWrites(false);
    }
    ~ForcedWritesOff() {
        try {
            restore();
        } catch (...) {
            // The failure being reported matters more; the file is rebuilt on the next run.
        }
    }
    ForcedWritesOff(const ForcedWritesOff&) = delete;
    ForcedWritesOff& operator=(const ForcedWritesOff&) = delete;

    void restore() {
        if (was_ && mobile_.connected()) {
            was_ = false;
            mobile_.setForcedWrites(true);
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
        std::string reason = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        throw Error("Cannot flush file \"" + path + "\". " + reason);
    }
    ::close(fd);
}

} // namespace

void sincronizaTabelas(TDMSistemaCadastro& dm, CopyHost& host) {
    Connection& mobile = dm.FDConnectionBancoMovel;
    {
        ForcedWritesOff unforced(mobile);
        for (const CopyEntry& e : tableCopies)
            runTableCopy(e.copy, dm, host);
        unforced.restore();
    }
    const std::string file = mobile.param("Database");
    mobile.close();
    flushToDisk(file);
}

} // namespace vela
