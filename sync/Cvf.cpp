#include "sync/Tables.h"

namespace vela {

namespace tables {

// TID is left out of the INSERT: the mobile database numbers the reports itself. ATUALIZARCVF,
// ACAOCOROMANT, CRIADOPOR, TIPORATEIO, FINALPROJ and NAOIMPLEMENTADO are copied from nothing and
// stay NULL.
const TableCopy cvf{
    .suffix = "CVF",
    .header = "***** Tabela CVF *****",
    .deleteSql = "DELETE FROM CVF",
    // LIKE compares case-sensitively, as intended: only 'MC-' in capitals qualifies.
    .selectSql = "select c.idteste, c.tiporelatorio, c.datasubteste, c.componente, c.pessoacontato, c.economiaano, "
                 "c.tempoproducao, c.dataimplementacao, c.distribuicao, c.beneficios, c.descricaocurta, "
                 "c.descricaooperacao, c.tidcliente, c.ativo, c.dataatualizacao, c.data, c.tid from cvf c where "
                 "c.ativo = 1 and c.idteste like 'MC-%' order by c.tid",
    .countSql = "select count (c.tid) from cvf c where c.ativo = 1 and c.idteste like 'MC-%'",
    .cursorSql = "select * from cvf where ativo = 1",
    .insertSql = "INSERT INTO CVF (ATIVO, DATA, DATAATUALIZACAO, TIDCLIENTE, TIPORELATORIO, ATUALIZARCVF, IDTESTE, "
                 "PESSOACONTATO, DESCRICAOOPERACAO, ACAOCOROMANT, BENEFICIOS, ECONOMIAANO, CRIADOPOR, DATASUBTESTE, "
                 "DATAIMPLEMENTACAO, TIPORATEIO, TEMPOPRODUCAO, DESCRICAOCURTA, DISTRIBUICAO, COMPONENTE, FINALPROJ, "
                 "NAOIMPLEMENTADO, ENVIADA) VALUES (:NEW_ATIVO, :NEW_DATA, :NEW_DATAATUALIZACAO, :NEW_TIDCLIENTE, "
                 ":NEW_TIPORELATORIO, :NEW_ATUALIZARCVF, :NEW_IDTESTE, :NEW_PESSOACONTATO, :NEW_DESCRICAOOPERACAO, "
                 ":NEW_ACAOCOROMANT, :NEW_BENEFICIOS, :NEW_ECONOMIAANO, :NEW_CRIADOPOR, :NEW_DATASUBTESTE, "
                 ":NEW_DATAIMPLEMENTACAO, :NEW_TIPORATEIO, :NEW_TEMPOPRODUCAO, :NEW_DESCRICAOCURTA, "
                 ":NEW_DISTRIBUICAO, :NEW_COMPONENTE, :NEW_FINALPROJ, :NEW_NAOIMPLEMENTADO, :NEW_ENVIADA)",
    .fields =
        {
            {"IDTESTE", "IDTESTE", Rule::String, 150},
            {"TIPORELATORIO", "TIPORELATORIO", Rule::String, 60},
            {"DATASUBTESTE", "DATASUBTESTE", Rule::Timestamp},
            {"COMPONENTE", "COMPONENTE", Rule::String, 100},
            {"PESSOACONTATO", "PESSOACONTATO", Rule::String, 100},
            {"ECONOMIAANO", "ECONOMIAANO", Rule::Bcd},
            {"TEMPOPRODUCAO", "TEMPOPRODUCAO", Rule::Bcd},
            {"DATAIMPLEMENTACAO", "DATAIMPLEMENTACAO", Rule::Timestamp},
            {"DISTRIBUICAO", "DISTRIBUICAO", Rule::Integer},
            {"BENEFICIOS", "BENEFICIOS", Rule::String, 1000},
            {"DESCRICAOCURTA", "DESCRICAOCURTA", Rule::String, 100},
            {"DESCRICAOOPERACAO", "DESCRICAOOPERACAO", Rule::String, 1000},
            {"TIDCLIENTE", "TIDCLIENTE", Rule::Integer},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"DATA", "DATA", Rule::Timestamp},
        },
    .log = {"Sincronizando CVF: ", "IDTESTE", LogValue::String},
    .endLine = "Finalizando Tabela CVF",
    // A report that reaches the mobile database counts as sent.
    .constants = {{"ENVIADA", "Sim"}},
};

} // namespace tables

} // namespace vela
