#include "sync/TableCopier.h"
#include "sync/Tables.h"

namespace vela {

namespace tables {

// The copy is named for categories; the table and its log title are "Status".
const TableCopy categorias{
    .suffix = "Categorias",
    .header = "***** Tabela Status *****",
    .deleteSql = "DELETE FROM STATUS",
    .selectSql = "select * from status where ativo = 1",
    .countSql = "select count(tid) from status where ativo = 1",
    .cursorSql = "select * from status where ativo = 1",
    .insertSql = "INSERT INTO STATUS (TID, STATUS, ATIVO, DATA, DATAATUALIZACAO) VALUES (:NEW_TID, :NEW_STATUS, "
                 ":NEW_ATIVO, :NEW_DATA, :NEW_DATAATUALIZACAO)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"STATUS", "STATUS", Rule::String, 150},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
        },
    .log = {"Sincronizando Status: ", "STATUS", LogValue::String},
    .endLine = "Finalizando Tabela Status",
};

// Prices without a reference date are neither copied nor counted, so the mobile
// DATAREFERENCIA never holds the stand-in for a NULL timestamp.
const TableCopy tabelaPreco{
    .suffix = "TabelaPreco",
    .header = "***** Tabela Preço *****",
    .deleteSql = "DELETE FROM TABELAPRECO",
    .selectSql = "select * from tabelaPreco where ativo = 1 and datareferencia is not null",
    .countSql = "select count(tid) from tabelaPreco where ativo = 1 and datareferencia is not null",
    .cursorSql = "select * from tabelaPreco where ativo = 1",
    .insertSql = "INSERT INTO TABELAPRECO (TID, TIDCLIENTE, TIDPRODUTO, ATIVO, DATA, DATAATUALIZACAO, FORMA, "
                 "DOCUMENTO, "
                 "VALOR, PEDIDO, DATAREFERENCIA, CODCLIENTE) VALUES (:NEW_TID, :NEW_TIDCLIENTE, :NEW_TIDPRODUTO, "
                 ":NEW_ATIVO, :NEW_DATA, :NEW_DATAATUALIZACAO, :NEW_FORMA, :NEW_DOCUMENTO, :NEW_VALOR, :NEW_PEDIDO, "
                 ":NEW_DATAREFERENCIA, :NEW_CODCLIENTE)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"TIDCLIENTE", "TIDCLIENTE", Rule::Integer},
            {"TIDPRODUTO", "TIDPRODUTO", Rule::Integer},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"FORMA", "FORMA", Rule::String, 15},
            {"DOCUMENTO", "DOCUMENTO", Rule::String, 150},
            {"VALOR", "VALOR", Rule::Bcd},
            {"PEDIDO", "PEDIDO", Rule::String, 150},
            {"DATAREFERENCIA", "DATAREFERENCIA", Rule::Timestamp},
            {"CODCLIENTE", "CODCLIENTE", Rule::String, 150},
        },
    // No blank after the colon: the key follows it directly.
    .log = {"Sincronizando Tabela Preço:", "TID", LogValue::Integer},
    .endLine = "Finalizando Tabela Preço",
};

} // namespace tables

} // namespace vela
