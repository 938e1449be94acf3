#pragma once

#include "db/ModuloDadosCadastro.h"
#include "sync/CopyHost.h"
#include "sync/TableCopy.h"

#include <array>
#include <optional>
#include <string_view>

namespace vela {

// The settings of every table copy, one file per group of tables.
namespace tables {
extern const TableCopy estados, usuarios, clasFiscal, produtos, categorias, empresas, condPagamento, tabelaPreco,
    transportadora, config, area, contatoCliente, gpVendedor, pedido, produtoPedido, cotaNegociacao, agendaVendedor,
    cvf;
} // namespace tables

struct CopyEntry {
    std::string_view name;   // the table's title in the header line
    std::string_view method; // sincronizaX, the copy's name in the window's vocabulary
    const TableCopy& copy;
};

// The eighteen table copies in the order the synchronization run makes them.
extern const std::array<CopyEntry, 18> tableCopies;

// The entry of a method name ("sincronizaPedido"); throws for an unknown one.
const CopyEntry& findCopy(std::string_view method);

// Step 1's copies: every table of the list in order, then the mobile connection closed (which
// commits the last rows) and its file flushed to disk. Expects both connections open and the
// mobile transaction started. The mobile file runs without forced writes and fills its pages with
// no space reserved meanwhile, since it is rebuilt on every run and then only read; once the copies
// are done it gets forcedWrites and reserveSpace, or for each the setting it had at the start. A
// file whose copies failed or were stopped keeps them off: it is never published.
void sincronizaTabelas(TDMSistemaCadastro& dm, CopyHost& host, std::optional<bool> forcedWrites = std::nullopt,
                       std::optional<bool> reserveSpace = std::nullopt);

} // namespace vela
