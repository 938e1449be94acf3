#include "sync/Tables.h"

namespace vela {

namespace tables {

// The source query reads one order by its key; the key selection drives the loop, so each open
// order is copied once however many qualifying items it has, and the gauge counts orders.
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
    // An open order: active, not cancelled, with at least one active item neither invoiced (NF)
    // nor taken from another source (FONTE). The join gives one row per such item, hence DISTINCT.
    .keys = {.name = "FDQueryDistinctPedido",
             .sql = "select distinct (p.tid) from pedido p inner join produtopedido pp on p.tid = pp.tidpedido "
                    "where p.ativo = 1 and pp.ativo = 1 and pp.nf is null and p.respcancel = 0 and pp.fonte is null",
             .param = "tid"},
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

} // namespace vela
