#include "sync/TableCopier.h"
#include "sync/Tables.h"

namespace vela {

namespace tables {

// An open order: active, not cancelled, with at least one active item neither invoiced (NF) nor
// taken from another source (FONTE). The join gives one row per such item, hence the DISTINCT.
constexpr std::string_view pedidosAbertos =
    "select distinct (p.tid) from pedido p inner join produtopedido pp on p.tid = pp.tidpedido where p.ativo "
    "= 1 and pp.ativo = 1 and pp.nf is null and p.respcancel = 0 and pp.fonte is null";

// The source query reads one order by its key; the key selection above drives the loop.
const TableCopy pedido{
    .suffix = "Pedido",
    .header = "***** Tabela Pedido *****",
    .deleteSql = "DELETE FROM PEDIDO",
    .selectSql = "select p.tid, p.ativo, p.data, p.dataatualizacao, p.npeddist, p.datareferencia, p.tidcliente "
                 "from pedido p where p.tid= :tid",
    .countSql = "select count(distinct (p.tid)) from pedido p inner join produtopedido pp on p.tid = "
                "pp.tidpedido where p.ativo = 1 and pp.ativo = 1 and pp.nf is null and p.respcancel = 0 and "
                "pp.fonte is null",
    .cursorSql = "select * from pedido where ativo = 1",
    .insertSql = "INSERT INTO PEDIDO (TID, TIDCLIENTE, NPEDDIST, DATAREFERENCIA, DATA, ATIVO, DATAATUALIZACAO) "
                 "VALUES (:NEW_TID, :NEW_TIDCLIENTE, :NEW_NPEDDIST, :NEW_DATAREFERENCIA, :NEW_DATA, :NEW_ATIVO, "
                 ":NEW_DATAATUALIZACAO)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"NPEDDIST", "NPEDDIST", Rule::String, 150},
            {"DATAREFERENCIA", "DATAREFERENCIA", Rule::Timestamp},
            {"TIDCLIENTE", "TIDCLIENTE", Rule::Integer},
        },
    .log = {"Sincronizando Pedido: ", "NPEDDIST", LogValue::String},
    .endLine = "Finalizando Tabela Pedido",
};

// Items are chosen by their own conditions, whatever their order's state: an item of a cancelled
// or inactive order is still copied.
const TableCopy produtoPedido{
    .suffix = "ProdutoPedido",
    .header = "***** Tabela Produto Pedido *****",
    .deleteSql = "DELETE FROM PRODUTOPEDIDO",
    .selectSql = "select p.tid, p.ativo, p.data, p.dataatualizacao, p.tidpedido, p.tidproduto, p.codigointerno, "
                 "p.codprodcliente, p.quantidade, p.dataentrega, p.NPedCli, p.PP, p.ValorTotal, p.item from "
                 "produtopedido p where p.ativo = 1 and p.nf is null and p.fonte is null",
    .countSql = "select count (tid) from produtopedido p where p.ativo = 1 and p.nf is null and p.fonte is null",
    .cursorSql = "select p.tid, p.ativo, p.data, p.dataatualizacao, p.tidpedido, p.tidproduto, p.codigointerno, "
                 "p.codprodcliente, p.quantidade, p.dataentrega, p.NPedCli, p.PP, p.ValorTotal, p.item from "
                 "produtopedido p where p.ativo = 1",
    .insertSql = "INSERT INTO PRODUTOPEDIDO (TID, TIDPEDIDO, TIDPRODUTO, CODIGOINTERNO, CODPRODCLIENTE, PP, "
                 "VALORTOTAL, QUANTIDADE, DATAENTREGA, ATIVO, DATA, DATAATUALIZACAO, NPEDCLI, ITEM) VALUES "
                 "(:NEW_TID, :NEW_TIDPEDIDO, :NEW_TIDPRODUTO, :NEW_CODIGOINTERNO, :NEW_CODPRODCLIENTE, :NEW_PP, "
                 ":NEW_VALORTOTAL, :NEW_QUANTIDADE, :NEW_DATAENTREGA, :NEW_ATIVO, :NEW_DATA, "
                 ":NEW_DATAATUALIZACAO, :NEW_NPEDCLI, :NEW_ITEM)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"TIDPEDIDO", "TIDPEDIDO", Rule::Integer},
            {"TIDPRODUTO", "TIDPRODUTO", Rule::Integer},
            {"CODIGOINTERNO", "CODIGOINTERNO", Rule::String, 150},
            {"CODPRODCLIENTE", "CODPRODCLIENTE", Rule::String, 150},
            {"QUANTIDADE", "QUANTIDADE", Rule::Bcd},
            {"DATAENTREGA", "DATAENTREGA", Rule::Date},
            {"NPEDCLI", "NPEDCLI", Rule::String, 150},
            {"PP", "PP", Rule::Bcd},
            {"VALORTOTAL", "VALORTOTAL", Rule::Bcd},
            {"ITEM", "ITEM", Rule::Smallint},
        },
    .log = {"Sincronizando Produto Pedido: ", "CODIGOINTERNO", LogValue::String},
    .endLine = "Finalizando Tabela Produto Pedido",
};

} // namespace tables

// The orders run a loop of two levels: the key selection yields each open order once (however
// many qualifying items it has), and the source query reads that order by its key. The gauge
// counts orders.
void sincronizaPedido(TDMSistemaCadastro& dm, CopyHost& host) {
    TableCopier copier(tables::pedido, dm, host);
    Query& chaves = dm.query("FDQueryDistinctPedido", dm.FDConnectionBancoVela);
    chaves.setSql(std::string(tables::pedidosAbertos));
    Query& pedido = copier.source();

    copier.begin();
    chaves.close();
    chaves.open();
    const size_t tid = chaves.field("TID");
    copier.openCount();
    copier.openCursor();
    bool bound = false;
    while (!chaves.eof()) {
        pedido.close();
        pedido.statement().setParamInt("tid", chaves.row().getInt64(tid));
        // The statement stays prepared from one order to the next: only the first opening binds
        // the field copies.
        if (bound) {
            pedido.open();
        } else {
            copier.openSource();
            bound = true;
        }
        while (!pedido.eof()) {
            copier.copyRow();
            pedido.next();
        }
        chaves.next();
        host.stepGauge();
    }
    chaves.close();
    copier.closeQueries();
    copier.end();
}

void sincronizaProdutoPedido(TDMSistemaCadastro& dm, CopyHost& host) {
    runTableCopy(tables::produtoPedido, dm, host);
}

} // namespace vela
