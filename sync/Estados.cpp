#include "sync/TableCopier.h"
#include "sync/Tables.h"

namespace vela {

namespace tables {

const TableCopy estados{
    .suffix = "Estados",
    .header = "***** Tabela Estados *****",
    .deleteSql = "DELETE FROM ESTADO",
    .selectSql = "select * from estado where ativo = 1 order by tid",
    .countSql = "select count(tid) from estado where ativo = 1",
    .cursorSql = "select * from estado where ativo = 1",
    .insertSql = "INSERT INTO ESTADO (TID, UF, DESCRICAO, ICMS, ATIVO, DATA, DATAATUALIZACAO, CODIBGE) VALUES "
                 "(:NEW_TID, :NEW_UF, :NEW_DESCRICAO, :NEW_ICMS, :NEW_ATIVO, :NEW_DATA, :NEW_DATAATUALIZACAO, "
                 ":NEW_CODIBGE)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"UF", "UF", Rule::String, 2},
            {"DESCRICAO", "DESCRICAO", Rule::String, 150},
            {"ICMS", "ICMS", Rule::Currency},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"CODIBGE", "CODIBGE", Rule::Integer},
        },
    .log = {"Sincronizando Estado: ", "UF", LogValue::String},
    .endLine = "Finalizando Tabela Estado",
    // Its cursor reads the source's active states (and nothing is done with them); every state
    // row is committed as soon as it is posted.
    .cursorOnSource = true,
    .commitAfterPost = true,
};

} // namespace tables

} // namespace vela
