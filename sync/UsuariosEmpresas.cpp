#include "sync/TableCopier.h"
#include "sync/Tables.h"

namespace vela {

namespace tables {

// SENHA goes over byte for byte as the back office stores it, neither hashed nor decoded: the
// mobile side must see the very value the back office holds. The INSERT quotes "DATA"; quoted in
// upper case it names the same column as the bare word.
const TableCopy usuarios{
    .suffix = "Usuario",
    .header = "***** Tabela Usuários *****",
    .deleteSql = "DELETE FROM USUARIO",
    .selectSql = "select * from usuario where ativo = 1",
    .countSql = "select count(tid) from usuario where ativo = 1",
    .cursorSql = "select * from usuario where ativo = 1",
    .insertSql = "INSERT INTO USUARIO (TID, ATIVO, \"DATA\", DATAATUALIZACAO, LOGIN, SENHA, NOME, TIDAREA1, TIDAREA2, "
                 "TIDAREA3, TIDAREA4, TIDAREA5, TIDAREA6, TIDAREA7, TIDAREA8, TIDAREA9, TIDAREA10) VALUES (:NEW_TID, "
                 ":NEW_ATIVO, :NEW_DATA, :NEW_DATAATUALIZACAO, :NEW_LOGIN, :NEW_SENHA, :NEW_NOME, :NEW_TIDAREA1, "
                 ":NEW_TIDAREA2, :NEW_TIDAREA3, :NEW_TIDAREA4, :NEW_TIDAREA5, :NEW_TIDAREA6, :NEW_TIDAREA7, "
                 ":NEW_TIDAREA8, :NEW_TIDAREA9, :NEW_TIDAREA10)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"LOGIN", "LOGIN", Rule::String, 150},
            {"SENHA", "SENHA", Rule::String, 150},
            {"NOME", "NOME", Rule::String, 150},
            {"TIDAREA1", "TIDAREA1", Rule::Integer},
            {"TIDAREA2", "TIDAREA2", Rule::Integer},
            {"TIDAREA3", "TIDAREA3", Rule::Integer},
            {"TIDAREA4", "TIDAREA4", Rule::Integer},
            {"TIDAREA5", "TIDAREA5", Rule::Integer},
            {"TIDAREA6", "TIDAREA6", Rule::Integer},
            {"TIDAREA7", "TIDAREA7", Rule::Integer},
            {"TIDAREA8", "TIDAREA8", Rule::Integer},
            {"TIDAREA9", "TIDAREA9", Rule::Integer},
            {"TIDAREA10", "TIDAREA10", Rule::Integer},
        },
    .log = {"Sincronizando Usuário: ", "NOME", LogValue::String},
    .endLine = "Finalizando Tabela Usuário",
};

// A company without a company name (NULL, empty or only blanks) stays behind, yet the count takes
// every active company: the gauge ends short of its maximum by their number.
const TableCopy empresas{
    .suffix = "Empresa",
    .header = "***** Tabela Empresa *****",
    .deleteSql = "DELETE FROM EMPRESA",
    .selectSql = "select * from empresa where ativo = 1 and empresa.razaosocial is not null and "
                 "trim(razaosocial) <> ''",
    .countSql = "select count(tid) from empresa where ativo = 1",
    .cursorSql = "select * from empresa where ativo = 1",
    .insertSql = "INSERT INTO EMPRESA (TID, TIDUF, TIDCONDPAGAMENTO, TIDTRANSPORTADORA, TIDAREA, ATIVO, DATA, "
                 "DATAATUALIZACAO, RAZAOSOCIAL, NOMEFANTASIA, ENDERECO, BAIRRO, CIDADE, CEP, COMPLEMENTO, TELEFONE, "
                 "EMAILCONTATO, PESSOACONTATO, CNPJ, TIPOEMPRESA, DEPTOCONTATO, TIPOFRETE) VALUES (:NEW_TID, "
                 ":NEW_TIDUF, :NEW_TIDCONDPAGAMENTO, :NEW_TIDTRANSPORTADORA, :NEW_TIDAREA, :NEW_ATIVO, :NEW_DATA, "
                 ":NEW_DATAATUALIZACAO, :NEW_RAZAOSOCIAL, :NEW_NOMEFANTASIA, :NEW_ENDERECO, :NEW_BAIRRO, :NEW_CIDADE, "
                 ":NEW_CEP, :NEW_COMPLEMENTO, :NEW_TELEFONE, :NEW_EMAILCONTATO, :NEW_PESSOACONTATO, :NEW_CNPJ, "
                 ":NEW_TIPOEMPRESA, :NEW_DEPTOCONTATO, :NEW_TIPOFRETE)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"NOMEFANTASIA", "NOMEFANTASIA", Rule::String, 150},
            {"TELEFONE", "TELEFONE", Rule::String, 150},
            {"PESSOACONTATO", "PESSOACONTATO", Rule::String, 150},
            {"EMAILCONTATO", "EMAILCONTATO", Rule::String, 150},
            {"DEPTOCONTATO", "DEPTOCONTATO", Rule::String, 50},
            {"CIDADE", "CIDADE", Rule::String, 150},
            {"ENDERECO", "ENDERECO", Rule::String, 150},
            {"COMPLEMENTO", "COMPLEMENTO", Rule::String, 150},
            {"TIDAREA", "TIDAREA", Rule::Integer},
            {"CEP", "CEP", Rule::String, 150},
            {"BAIRRO", "BAIRRO", Rule::String, 150},
            {"RAZAOSOCIAL", "RAZAOSOCIAL", Rule::String, 150},
            {"TIPOEMPRESA", "TIPOEMPRESA", Rule::String, 1},
            {"TIPOFRETE", "TIPOFRETE", Rule::Smallint},
            {"TIDTRANSPORTADORA", "TIDTRANSPORTADORA", Rule::Integer},
            {"TIDCONDPAGAMENTO", "TIDCONDPAGAMENTO", Rule::Integer},
            {"CNPJ", "CNPJ", Rule::String, 150},
            {"TIDUF", "TIDUF", Rule::Integer},
        },
    .log = {"Sincronizando empresa: ", "NOMEFANTASIA", LogValue::String},
    .endLine = "Finalizando Tabela Empresa",
};

} // namespace tables

} // namespace vela
