#include "sync/TableCopier.h"
#include "sync/Tables.h"

#include <string_view>

namespace vela {

namespace tables {

namespace {

// Cancellation reason of a quota, from its RESPCANCEL; any other value leaves it NULL.
void motivoCancelamento(CopyRow& row) {
    std::string_view respcancel = row.sourceString("RESPCANCEL");
    if (respcancel == "0")
        row.setString("MOTIVOCANCELAMENTO", "Normal");
    else if (respcancel == "1")
        row.setString("MOTIVOCANCELAMENTO", "Cancelada");
    else if (respcancel == "2")
        row.setString("MOTIVOCANCELAMENTO", "Estudo");
}

} // namespace

// The mobile database keys each quota itself (gen_tid_cotacao); the INSERT hands that key back so
// that the quota's products can carry it.
constexpr std::string_view insertCotaNegociacao =
    "INSERT INTO COTANEGOCIACAO (TIDCONDPAGAMENTO, TIDCLIENTE, MOTIVOCANCELAMENTO, DATAREFERENCIA, NCOTDIST, "
    "RESPCANCEL, OBSERVACAO, DATAATUALIZACAO, DATA, ATIVO, PPPACOTE, ENVIADA) VALUES (:NEW_TIDCONDPAGAMENTO, "
    ":NEW_TIDCLIENTE, :NEW_MOTIVOCANCELAMENTO, :NEW_DATAREFERENCIA, :NEW_NCOTDIST, :NEW_RESPCANCEL, "
    ":NEW_OBSERVACAO, :NEW_DATAATUALIZACAO, :NEW_DATA, :NEW_ATIVO, :NEW_PPPACOTE, :NEW_ENVIADA) RETURNING TID";

constexpr std::string_view cursorCotaNegociacao =
    "select c.tid,  c.data, c.dataatualizacao, c.ativo, c.ncotdist, c.tidcliente, c.datareferencia, "
    "c.observacao, c.tidcondpagamento, c.pppacote, c.enviada, c.motivocancelamento, c.respcancel from "
    "cotanegociacao c where c.ativo = 1";

extern const TableCopy produtoCotaNegociacao;
extern const TableCopy cotaNegociacaoCm;

// Each quota is followed by its products (its source tid as :tidcotaneg), which carry the key the
// mobile database gave the quota.
constexpr ChildCopy produtosDaCota{.copy = &produtoCotaNegociacao, .param = "tidcotaneg", .keyColumn = "TIDCOTANEG"};

// RESPCANCEL comes last: the cancellation reason is derived from it right after.
const std::vector<FieldCopy> camposCotaNegociacao{
    {"DATA", "DATA", Rule::Timestamp},
    {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
    {"NCOTDIST", "NCOTDIST", Rule::String, 150},
    {"TIDCLIENTE", "TIDCLIENTE", Rule::Integer},
    {"DATAREFERENCIA", "DATAREFERENCIA", Rule::Timestamp},
    {"OBSERVACAO", "OBSERVACAO", Rule::String, 500},
    {"TIDCONDPAGAMENTO", "TIDCONDPAGAMENTO", Rule::Integer},
    {"PPPACOTE", "PPPACOTE", Rule::Bcd},
    {"RESPCANCEL", "RESPCANCEL", Rule::String, 1},
};

// Phase 1, the regular quotas: open (situation 'A') and less than 90 days old. It opens the copy:
// header, and both quota tables emptied before the commit (the products too, so that no product
// line outlives its quota when the mobile file was not replaced by the template).
const TableCopy cotaNegociacao{
    .suffix = "Cotacao",
    .header = "***** Tabela CotaNegociação *****",
    .deleteSql = "DELETE FROM COTANEGOCIACAO",
    .alsoDeleteSql = "DELETE FROM PRODUTOCOTANEGOCIACAO",
    .selectSql = "select c.tid,  c.data, c.dataatualizacao, c.ativo, c.ncotdist, c.tidcliente, c.datareferencia, "
                 "c.observacao, c.tidcondpagamento, c.pppacote, c.enviada, c.respcancel from cotanegociacao c "
                 "where c.ativo = 1 and c.situacao = 'A' and (c.datareferencia > current_timestamp - 90) and "
                 "(upper(c.ncotdist) not like 'CM-%') order by c.ncotdist",
    // Counts the product lines of the selected quotas, not the quotas.
    .countSql = "select count (c.tid) from cotanegociacao c inner join produtocotanegociacao p on c.tid = "
                "p.tidcotaneg where c.ativo = 1 and c.situacao = 'A' and (c.datareferencia > current_timestamp - "
                "90) and (upper(c.ncotdist) not like 'CM-%')",
    .cursorSql = cursorCotaNegociacao,
    .insertSql = insertCotaNegociacao,
    .fields = camposCotaNegociacao,
    .log = {"Sincronizando Cotação: ", "NCOTDIST", LogValue::String},
    .endLine = {}, // written once, after phase 2
    // Regular quotas are marked ATIVO 100 and stay unsent (ENVIADA NULL).
    .constants = {{"ATIVO", 100}},
    .beforePost = motivoCancelamento,
    .child = produtosDaCota,
    .then = &cotaNegociacaoCm,
};

// Phase 2, the CM quotas: any situation, less than 547 days old. It closes the copy with the end
// line.
const TableCopy cotaNegociacaoCm{
    .suffix = "Cotacao",
    .header = {}, // phase 1 writes the header and empties the tables
    .deleteSql = {},
    .selectSql = "select \n"
                 "c.tid, c.data, c.dataatualizacao, c.ativo, c.ncotdist, c.tidcliente, c.datareferencia, "
                 "c.observacao, c.tidcondpagamento, c.pppacote, c.enviada, c.motivocancelamento, c.respcancel\n"
                 "from cotanegociacao c \n"
                 "where c.ativo = 1 \n"
                 "and (c.datareferencia > current_timestamp - 547) and\n"
                 "upper(c.ncotdist) like 'CM-%' order by c.ncotdist",
    .countSql = "select count (c.tid) from cotanegociacao c where ativo = 1 \n"
                "and (c.datareferencia > current_timestamp - 547) and\n"
                "upper(c.ncotdist) like 'CM-%'",
    .cursorSql = cursorCotaNegociacao,
    .insertSql = insertCotaNegociacao,
    .fields = camposCotaNegociacao,
    .log = {"Sincronizando Cotação: ", "NCOTDIST", LogValue::String},
    .endLine = "Finalizando Tabela Cotação",
    // CM quotas are marked ATIVO 1 and as already sent.
    .constants = {{"ATIVO", 1}, {"ENVIADA", "EA"}},
    .beforePost = motivoCancelamento,
    .child = produtosDaCota,
};

// The products of one quota (:tidcotaneg, the quota's source key), copied under the key the mobile
// database gave the quota. No DELETE of its own: the quota copy empties the table.
const TableCopy produtoCotaNegociacao{
    .suffix = "ProdutoCotaNegociacao",
    .header = "***** Tabela ProdutoCotaNegociação *****",
    .deleteSql = {},
    .selectSql = "select\n"
                 "p.tid, p.ativo, p.data, p.dataatualizacao, p.tidproduto, p.codigointerno, \n"
                 " p.pp, p.quantidade, p.prazoentrega, p.item, p.quantcotada, p.desconto, p.codprodcliente, \n"
                 " p.tidcotaneg, p.totpp, p.npedcliente, p.feedconco, p.feedprazo, p.feedpreco, p.feedritmo, "
                 "p.feedprecovalor, p.feedperfo \n"
                 "from cotanegociacao c inner join produtocotanegociacao p on c.tid = p.tidcotaneg \n"
                 "where c.ativo = 1 and p.ativo = 1 \n"
                 " and p.tidcotaneg = :tidcotaneg",
    .countSql = "select count (p.tid) from cotanegociacao c inner join produtocotanegociacao p on c.tid = "
                "p.tidcotaneg \n"
                "where c.ativo = 1 and p.ativo = 1 \n"
                " and p.tidcotaneg = :tidcotaneg",
    .cursorSql = "select p.tid, p.ativo, p.data, p.dataatualizacao, p.tidproduto, p.codigointerno, p.pp, "
                 "p.quantidade, p.prazoentrega, p.item, p.quantcotada, p.desconto, p.codprodcliente, "
                 "p.tidcotaneg, p.totpp, p.npedcliente, p.feedconco, p.feedprazo, p.feedpreco, feedritmo, "
                 "feedprecovalor, feedperfo from produtocotanegociacao p where p.ativo = 1",
    .insertSql = "INSERT INTO PRODUTOCOTANEGOCIACAO (TIDCOTANEG, TIDPRODUTO, CODIGOINTERNO, CODPRODCLIENTE, "
                 "DESCONTO, QUANTIDADE, QUANTCOTADA, PP, PRAZOENTREGA, DATA, DATAATUALIZACAO, ATIVO, NPEDCLIENTE, "
                 "TOTPP, ITEM, FEEDCONCO, FEEDPRAZO, FEEDPRECO, FEEDRITMO, FEEDPRECOVALOR, FEEDPERFO) VALUES "
                 "(:NEW_TIDCOTANEG, :NEW_TIDPRODUTO, :NEW_CODIGOINTERNO, :NEW_CODPRODCLIENTE, :NEW_DESCONTO, "
                 ":NEW_QUANTIDADE, :NEW_QUANTCOTADA, :NEW_PP, :NEW_PRAZOENTREGA, :NEW_DATA, :NEW_DATAATUALIZACAO, "
                 ":NEW_ATIVO, :NEW_NPEDCLIENTE, :NEW_TOTPP, :NEW_ITEM, :NEW_FEEDCONCO, :NEW_FEEDPRAZO, "
                 ":NEW_FEEDPRECO, :NEW_FEEDRITMO, :NEW_FEEDPRECOVALOR, :NEW_FEEDPERFO)",
    .fields =
        {
            {"ATIVO", "ATIVO", Rule::Smallint},
            {"DATA", "DATA", Rule::Timestamp},
            {"DATAATUALIZACAO", "DATAATUALIZACAO", Rule::Timestamp},
            {"TIDPRODUTO", "TIDPRODUTO", Rule::Integer},
            {"CODIGOINTERNO", "CODIGOINTERNO", Rule::String, 150},
            {"PP", "PP", Rule::Bcd},
            // The mobile application works with the quoted quantity.
            {"QUANTIDADE", "QUANTCOTADA", Rule::Bcd},
            {"PRAZOENTREGA", "PRAZOENTREGA", Rule::String, 150},
            {"ITEM", "ITEM", Rule::Smallint},
            {"QUANTCOTADA", "QUANTCOTADA", Rule::Bcd},
            {"DESCONTO", "DESCONTO", Rule::Currency},
            {"CODPRODCLIENTE", "CODPRODCLIENTE", Rule::String, 150},
            {"TOTPP", "TOTPP", Rule::Bcd},
            {"NPEDCLIENTE", "NPEDCLIENTE", Rule::String, 150},
            {"FEEDCONCO", "FEEDCONCO", Rule::String, 20},
            {"FEEDPRAZO", "FEEDPRAZO", Rule::String, 20},
            {"FEEDPRECO", "FEEDPRECO", Rule::String, 20},
            {"FEEDRITMO", "FEEDRITMO", Rule::String, 20},
            {"FEEDPRECOVALOR", "FEEDPRECOVALOR", Rule::Bcd},
            {"FEEDPERFO", "FEEDPERFO", Rule::String, 20},
        },
    .log = {"Sincronizando Item: ", "CODIGOINTERNO", LogValue::String},
    .endLine = "Finalizando Tabela ProdutocotaNegociação",
};

} // namespace tables

} // namespace vela
