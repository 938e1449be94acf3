#include "sync/TableCopier.h"
#include "sync/Tables.h"

namespace vela {

namespace tables {

const TableCopy area{
    .suffix = "Area",
    // No accent in the header, one in the row and end lines: the texts are kept as they have always read.
    .header = "***** Tabela Area *****",
    .deleteSql = "DELETE FROM AREA",
    .selectSql = "select * from area where ativo = 1",
    .countSql = "select count(tid) from area where ativo = 1",
    .cursorSql = "select * from area where ativo = 1",
    .insertSql = "INSERT INTO AREA (TID, AREA, TIDVENDEDOR, OBSERVACAO, ATIVO, \"DATA\", DATAATUALIZACAO) VALUES "
                 "(:NEW_TID, :NEW_AREA, :NEW_TIDVENDEDOR, :NEW_OBSERVACAO, :NEW_ATIVO, :NEW_DATA, "
                 ":NEW_DATAATUALIZACAO)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"AREA", "AREA", Rule::String, 150},
            {"TIDVENDEDOR", "TIDVENDEDOR", Rule::Integer},
            {"OBSERVACAO", "OBSERVACAO", Rule::String, 500},
        },
    .log = {"Sincronizando Área: ", "AREA", LogValue::String},
    .endLine = "Finalizando Tabela Área",
};

const TableCopy contatoCliente{
    .suffix = "ContatoCliente",
    .header = "***** Tabela Contato *****",
    .deleteSql = "DELETE FROM CONTATO",
    .selectSql = "select * from contato where ativo = 1",
    .countSql = "select count(tid) from contato where ativo = 1",
    .cursorSql = "select * from contato where ativo = 1",
    .insertSql = "INSERT INTO CONTATO (TID, TIDEMPRESA, NOME, DEPTO, TELEFONE, CELULAR, EMAIL, DATANASC, ATIVO, "
                 "DATAATUALIZACAO, DATA) VALUES (:NEW_TID, :NEW_TIDEMPRESA, :NEW_NOME, :NEW_DEPTO, :NEW_TELEFONE, "
                 ":NEW_CELULAR, :NEW_EMAIL, :NEW_DATANASC, :NEW_ATIVO, :NEW_DATAATUALIZACAO, :NEW_DATA)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"TIDEMPRESA", "TIDEMPRESA", Rule::Integer},
            {"NOME", "NOME", Rule::String, 150},
            {"CELULAR", "CELULAR", Rule::String, 150},
            {"DEPTO", "DEPTO", Rule::String, 150},
            {"EMAIL", "EMAIL", Rule::String, 150},
            {"TELEFONE", "TELEFONE", Rule::String, 150},
            // Both dates used to be lost on the way (the birth date never set, DATA read into a
            // column the INSERT did not name); the mobile table has a place for each.
            {"DATANASC", "DATANASC", Rule::Timestamp},
            {"DATA", "DATA", Rule::Timestamp},
        },
    .log = {"Sincronizando Contato: ", "NOME", LogValue::String},
    .endLine = "Finalizando Tabela Contato",
};

const TableCopy gpVendedor{
    .suffix = "GPVendedor",
    .header = "***** Tabela GPVendedor *****",
    .deleteSql = "DELETE FROM GPVENDEDOR",
    .selectSql = "select * from GPVendedor where ativo = 1",
    .countSql = "select count(tid) from GPVendedor where ativo = 1",
    .cursorSql = "select * from GPVendedor where ativo = 1",
    .insertSql = "INSERT INTO GPVENDEDOR (TID, DESCONTO, GP, ATIVO, DATA, DATAATUALIZACAO, PG) VALUES (:NEW_TID, "
                 ":NEW_DESCONTO, :NEW_GP, :NEW_ATIVO, :NEW_DATA, :NEW_DATAATUALIZACAO, :NEW_PG)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"DATA", "DATA", Rule::Timestamp},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DESCONTO", "DESCONTO", Rule::Currency},
            {"GP", "GP", Rule::Currency},
            {"PG", "PG", Rule::Integer},
        },
    // The rows have no name: the key identifies them.
    .log = {"Sincronizando GPVendedor: ", "TID", LogValue::Integer},
    .endLine = "Finalizando Tabela GPVendedor",
};

const TableCopy agendaVendedor{
    .suffix = "AgendaVendedor",
    .header = "***** Tabela AgendaVendedor *****",
    .deleteSql = "DELETE FROM AGENDAVENDEDOR",
    .selectSql = "select * from agendavendedor where ativo = 1",
    .countSql = "select count(tid) from agendavendedor where ativo = 1",
    .cursorSql = "select * from agendavendedor where ativo = 1",
    .insertSql = "INSERT INTO AGENDAVENDEDOR (TID, TIDAREA, DATAREFERENCIA, DATA, DATAATUALIZACAO, ATIVO, STATUS) "
                 "VALUES (:NEW_TID, :NEW_TIDAREA, :NEW_DATAREFERENCIA, :NEW_DATA, :NEW_DATAATUALIZACAO, :NEW_ATIVO, "
                 ":NEW_STATUS)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"TIDAREA", "TIDAREA", Rule::Integer},
            {"DATAREFERENCIA", "DATAREFERENCIA", Rule::Timestamp},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"STATUS", "STATUS", Rule::String, 20},
        },
    // The key as written: read back from the row just posted, not from the source.
    .log =
        {.prefix = "Sincronizando Agenda Vendedor : ", .column = "TID", .value = LogValue::Integer, .fromNewRow = true},
    .endLine = "Finalizando Tabela AgendaVendedor",
};

} // namespace tables

} // namespace vela
