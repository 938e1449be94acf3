#include "sync/TableCopier.h"
#include "sync/Tables.h"

namespace vela {

namespace tables {

const TableCopy clasFiscal{
    .suffix = "ClasFiscal",
    .header = "***** Tabela Classificações Fiscais *****",
    .deleteSql = "DELETE FROM CLASFISCAL",
    .selectSql = "select * from clasfiscal where ativo = 1",
    .countSql = "select count(tid) from clasfiscal where ativo = 1",
    .cursorSql = "select * from clasfiscal where ativo = 1",
    .insertSql = "INSERT INTO CLASFISCAL (TID, DESCRICAO, IPI, ATIVO, DATA, DATAATUALIZACAO, ICMS, OBSERVACAO, LETRA, "
                 "ICMSENTRADA, ICMSINTERNO) VALUES (:NEW_TID, :NEW_DESCRICAO, :NEW_IPI, :NEW_ATIVO, :NEW_DATA, "
                 ":NEW_DATAATUALIZACAO, :NEW_ICMS, :NEW_OBSERVACAO, :NEW_LETRA, :NEW_ICMSENTRADA, :NEW_ICMSINTERNO)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"DESCRICAO", "DESCRICAO", Rule::String, 150},
            {"IPI", "IPI", Rule::Currency},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"ICMS", "ICMS", Rule::Currency},
            {"OBSERVACAO", "OBSERVACAO", Rule::String, 500},
            {"LETRA", "LETRA", Rule::String, 2},
            {"ICMSENTRADA", "ICMSENTRADA", Rule::Currency},
            {"ICMSINTERNO", "ICMSINTERNO", Rule::Currency},
        },
    .log = {"Sincronizando Classificação Fiscal: ", "DESCRICAO", LogValue::String},
    .endLine = "Finalizando Tabela Classificação Fiscal",
};

// Products without a sale price (pv 0, negative or NULL) stay behind, yet the count takes every
// active product: the gauge ends short of its maximum by their number. The mobile DATA is left
// out of the INSERT on purpose and keeps what the mobile database gives a new row.
const TableCopy produtos{
    .suffix = "Produto",
    .header = "***** Tabela Produtos *****",
    .deleteSql = "DELETE FROM PRODUTO",
    .selectSql = "select * from produto where ativo = 1 and produto.pv > 0",
    .countSql = "select count(tid) from produto where ativo = 1",
    .cursorSql = "select * from produto where ativo = 1",
    .insertSql = "INSERT INTO PRODUTO (TID, CODEXP, CODINTERNO, PC, PL, PV, DATAATUALIZACAO, ATIVO, DESCRICAO, "
                 "TIDFABRICANTE, "
                 "TIDCLASFISCAIS, ESTOQUEATUAL, DESCONTO, ORIGEM, STATUS, MAINGROUP, TIDSTATUS, DESCONTOADICIONAL, "
                 "MINIMOCOMPRAVENDA, PG, DESCCOMPENSA, PCPRODUTO) VALUES (:NEW_TID, :NEW_CODEXP, :NEW_CODINTERNO, "
                 ":NEW_PC, "
                 ":NEW_PL, :NEW_PV, :NEW_DATAATUALIZACAO, :NEW_ATIVO, :NEW_DESCRICAO, :NEW_TIDFABRICANTE, "
                 ":NEW_TIDCLASFISCAIS, "
                 ":NEW_ESTOQUEATUAL, :NEW_DESCONTO, :NEW_ORIGEM, :NEW_STATUS, :NEW_MAINGROUP, :NEW_TIDSTATUS, "
                 ":NEW_DESCONTOADICIONAL, :NEW_MINIMOCOMPRAVENDA, :NEW_PG, :NEW_DESCCOMPENSA, :NEW_PCPRODUTO)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"CODEXP", "CODEXP", Rule::String, 150},
            {"CODINTERNO", "CODINTERNO", Rule::String, 150},
            {"PC", "PC", Rule::Bcd},
            {"PL", "PL", Rule::Bcd},
            {"PV", "PV", Rule::Bcd},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DESCRICAO", "DESCRICAO", Rule::String, 150},
            {"TIDFABRICANTE", "TIDFABRICANTE", Rule::Integer},
            {"TIDCLASFISCAIS", "TIDCLASFISCAIS", Rule::Integer},
            {"ESTOQUEATUAL", "ESTOQUEATUAL", Rule::Bcd},
            {"DESCONTO", "DESCONTO", Rule::Currency},
            {"ORIGEM", "ORIGEM", Rule::String, 3},
            {"STATUS", "STATUS", Rule::String, 2},
            {"MAINGROUP", "MAINGROUP", Rule::String, 3},
            {"TIDSTATUS", "TIDSTATUS", Rule::Integer},
            {"DESCONTOADICIONAL", "DESCONTOADICIONAL", Rule::Currency},
            {"MINIMOCOMPRAVENDA", "MINIMOCOMPRAVENDA", Rule::Bcd},
            {"PG", "PG", Rule::Smallint},
            {"DESCCOMPENSA", "DESCCOMPENSA", Rule::Currency},
            {"PCPRODUTO", "PCPRODUTO", Rule::Bcd},
        },
    .log = {"Sincronizando Produto: ", "CODINTERNO", LogValue::String},
    .endLine = "Finalizando Tabela Produto",
};

} // namespace tables

} // namespace vela
