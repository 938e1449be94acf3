#include "sync/Comerciais.h"

#include "sync/TableCopier.h"
#include "sync/Tables.h"

#include <ctime>

namespace vela {

ISC_DATE localDate(std::chrono::local_seconds when) {
    using namespace std::chrono;
    const year_month_day day{floor<days>(when)};
    return fb::util()->encodeDate(static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                                  static_cast<unsigned>(day.day()));
}

std::chrono::local_seconds localNow() {
    using namespace std::chrono;
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    const local_days day{year{t.tm_year + 1900} / month{static_cast<unsigned>(t.tm_mon + 1)} /
                         static_cast<unsigned>(t.tm_mday)};
    return day + hours{t.tm_hour} + minutes{t.tm_min} + seconds{t.tm_sec};
}

namespace {

void stampSynchronizationDate(CopyRow& row) {
    row.setDate("DATASINCRONIZACAO", localDate(localNow()));
}

} // namespace

namespace tables {

const TableCopy condPagamento{
    .suffix = "CondPagamento",
    .header = "***** Tabela Cond. Pagamento *****",
    .deleteSql = "DELETE FROM CONDPAGAMENTO",
    .selectSql = "select * from condpagamento where ativo = 1",
    .countSql = "select count(tid) from condpagamento where ativo = 1",
    .cursorSql = "select * from condpagamento where ativo = 1",
    .insertSql = "INSERT INTO CONDPAGAMENTO (TID, NOME, PARCELAS, ATIVO, DATA, DATAATUALIZACAO, TIPO) VALUES "
                 "(:NEW_TID, :NEW_NOME, :NEW_PARCELAS, :NEW_ATIVO, :NEW_DATA, :NEW_DATAATUALIZACAO, :NEW_TIPO)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"NOME", "NOME", Rule::String, 150},
            {"PARCELAS", "PARCELAS", Rule::Smallint},
            {"TIPO", "TIPO", Rule::String, 1},
            // Written from the source (always 1 here) rather than left NULL, like every other table's flag.
            {"ATIVO", "ATIVO", Rule::Smallint},
        },
    .log = {"Sincronizando Cond. Pagamento: ", "NOME", LogValue::String},
    .endLine = "Finalizando Tabela Cond. Pagamento",
};

const TableCopy transportadora{
    .suffix = "Transportadora",
    .header = "***** Tabela Transportadora *****",
    .deleteSql = "DELETE FROM TRANSPORTADORA",
    .selectSql = "select * from transportadora where ativo = 1",
    .countSql = "select count(tid) from transportadora where ativo = 1",
    .cursorSql = "select * from transportadora where ativo = 1",
    .insertSql = "INSERT INTO TRANSPORTADORA (TID, NOME, ENDERECO, BAIRRO, CIDADE, CEP, COMPLEMENTO, PESSOARESP, "
                 "ATIVO, DATA, DATAATUALIZACAO, EMAIL, TELEFONE, RAZAOSOCIAL) VALUES (:NEW_TID, :NEW_NOME, "
                 ":NEW_ENDERECO, :NEW_BAIRRO, :NEW_CIDADE, :NEW_CEP, :NEW_COMPLEMENTO, :NEW_PESSOARESP, "
                 ":NEW_ATIVO, :NEW_DATA, :NEW_DATAATUALIZACAO, :NEW_EMAIL, :NEW_TELEFONE, :NEW_RAZAOSOCIAL)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"NOME", "NOME", Rule::String, 150},
            {"TELEFONE", "TELEFONE", Rule::String, 150},
            {"PESSOARESP", "PESSOARESP", Rule::String, 150},
            {"EMAIL", "EMAIL", Rule::String, 150},
            {"CIDADE", "CIDADE", Rule::String, 150},
            {"ENDERECO", "ENDERECO", Rule::String, 150},
            {"COMPLEMENTO", "COMPLEMENTO", Rule::String, 150},
            {"CEP", "CEP", Rule::String, 150},
            {"BAIRRO", "BAIRRO", Rule::String, 150},
            {"RAZAOSOCIAL", "RAZAOSOCIAL", Rule::String, 150},
        },
    .log = {"Sincronizando Transportadora: ", "NOME", LogValue::String},
    .endLine = "Finalizando Tabela Transportadora",
};

const TableCopy config{
    .suffix = "Config",
    .header = "***** Tabela Config *****",
    .deleteSql = "DELETE FROM CONFIG",
    .selectSql = "select * from config where ativo = 1",
    .countSql = "select count(tid) from config where ativo = 1",
    // The mobile CONFIG keeps no ATIVO: its cursor has nothing to filter on.
    .cursorSql = "select * from config",
    .insertSql = "INSERT INTO CONFIG (DATASINCRONIZACAO, TID, SMTP, PORTAEMAIL, USUARIO, SENHAEMAIL, AUTENTICEMAIL, "
                 "EMAILUSUARIO, EMAILDESTINO, TITULOEMAIL, MENSAGEM, CODSOAP, LOGINSOAP, SENHASOAP, CODSOAPDORMER, "
                 "LOGINSOAPDORMER, SENHASOAPDORMER, IPI) VALUES (:NEW_DATASINCRONIZACAO, :NEW_TID, :NEW_SMTP, "
                 ":NEW_PORTAEMAIL, :NEW_USUARIO, :NEW_SENHAEMAIL, :NEW_AUTENTICEMAIL, :NEW_EMAILUSUARIO, "
                 ":NEW_EMAILDESTINO, :NEW_TITULOEMAIL, :NEW_MENSAGEM, :NEW_CODSOAP, :NEW_LOGINSOAP, :NEW_SENHASOAP, "
                 ":NEW_CODSOAPDORMER, :NEW_LOGINSOAPDORMER, :NEW_SENHASOAPDORMER, :NEW_IPI)",
    .fields =
        {
            {"TID", "TID", Rule::Integer},
            {"SMTP", "SMTP", Rule::String, 60},
            {"PORTAEMAIL", "PORTAEMAIL", Rule::Integer},
            {"USUARIO", "USUARIO", Rule::String, 50},
            {"SENHAEMAIL", "SENHAEMAIL", Rule::String, 40},
            {"AUTENTICEMAIL", "AUTENTICEMAIL", Rule::String, 3},
            // Deliberately the account user again: the source's own EMAILUSUARIO is not read.
            {"EMAILUSUARIO", "USUARIO", Rule::String, 100},
            {"EMAILDESTINO", "EMAILDESTINO", Rule::String, 100},
            {"TITULOEMAIL", "TITULOEMAIL", Rule::String, 80},
            {"MENSAGEM", "MENSAGEM", Rule::String, 1000},
            {"CODSOAP", "CODSOAP", Rule::String, 10},
            {"LOGINSOAP", "LOGINSOAP", Rule::String, 30},
            {"SENHASOAP", "SENHASOAP", Rule::String, 30},
            {"CODSOAPDORMER", "CODSOAPDORMER", Rule::String, 10},
            {"LOGINSOAPDORMER", "LOGINSOAPDORMER", Rule::String, 30},
            {"SENHASOAPDORMER", "SENHASOAPDORMER", Rule::String, 30},
            {"IPI", "IPI", Rule::String, 150},
        },
    .log = {.prefix = {}, .column = {}, .value = LogValue::None},
    .endLine = "Finalizando Tabela Config",
    .beforePost = stampSynchronizationDate,
};

} // namespace tables

} // namespace vela
