#include "bench/Catalogue.h"

#include "sync/Tables.h"

namespace vela::bench {

namespace {

// The quota selections of both phases, once as the quota copy reads them and once as the filter
// of their products.
#define PHASE1                                                                                                         \
    "c.ativo = 1 and c.situacao = 'A' and (c.datareferencia > current_timestamp - 90) and "                            \
    "(upper(c.ncotdist) not like 'CM-%')"
#define PHASE2 "c.ativo = 1 and (c.datareferencia > current_timestamp - 547) and upper(c.ncotdist) like 'CM-%'"
#define QUOTA_COLUMNS(ativo, enviada)                                                                                  \
    "select c.tidcondpagamento, c.tidcliente, case c.respcancel when '0' then 'Normal' when '1' then "                 \
    "'Cancelada' when '2' then 'Estudo' end as motivocancelamento, c.datareferencia, c.ncotdist, "                     \
    "c.respcancel, "                                                                                                   \
    "c.observacao, c.dataatualizacao, c.data, " ativo " as ativo, c.pppacote, " enviada " as enviada "                 \
    "from cotanegociacao c where "

} // namespace

const std::vector<CopyEntry>& catalogue() {
    static const std::vector<CopyEntry> entries{
        {"sincronizaEstados",
         "***** Tabela Estados *****",
         &sincronizaEstados,
         {"ESTADO"},
         {{"ESTADO", "select tid, uf, descricao, icms, ativo, data, dataatualizacao, codibge from estado "
                     "where ativo = 1 order by tid"}}},
        {"sincronizaUsuarios",
         "***** Tabela Usuários *****",
         &sincronizaUsuarios,
         {"USUARIO"},
         {{"USUARIO", "select tid, ativo, data, dataatualizacao, login, senha, nome, tidarea1, tidarea2, tidarea3, "
                      "tidarea4, tidarea5, tidarea6, tidarea7, tidarea8, tidarea9, tidarea10 from usuario "
                      "where ativo = 1"}}},
        {"sincronizaClasFiscal",
         "***** Tabela Classificações Fiscais *****",
         &sincronizaClasFiscal,
         {"CLASFISCAL"},
         {{"CLASFISCAL", "select tid, descricao, ipi, ativo, data, dataatualizacao, icms, observacao, letra, "
                         "icmsentrada, icmsinterno from clasfiscal where ativo = 1"}}},
        {"sincronizaProdutos",
         "***** Tabela Produtos *****",
         &sincronizaProdutos,
         {"PRODUTO"},
         {{"PRODUTO", "select tid, codexp, codinterno, pc, pl, pv, dataatualizacao, ativo, descricao, tidfabricante, "
                      "tidclasfiscais, estoqueatual, desconto, origem, status, maingroup, tidstatus, "
                      "descontoadicional, minimocompravenda, pg, desccompensa, pcproduto from produto "
                      "where ativo = 1 and produto.pv > 0"}}},
        {"sincronizaCategorias",
         "***** Tabela Status *****",
         &sincronizaCategorias,
         {"STATUS"},
         {{"STATUS", "select tid, status, ativo, data, dataatualizacao from status where ativo = 1"}}},
        {"sincronizaEmpresas",
         "***** Tabela Empresa *****",
         &sincronizaEmpresas,
         {"EMPRESA"},
         {{"EMPRESA", "select tid, tiduf, tidcondpagamento, tidtransportadora, tidarea, ativo, data, "
                      "dataatualizacao, razaosocial, nomefantasia, endereco, bairro, cidade, cep, complemento, "
                      "telefone, emailcontato, pessoacontato, cnpj, tipoempresa, deptocontato, tipofrete from "
                      "empresa where ativo = 1 and empresa.razaosocial is not null and trim(razaosocial) <> ''"}}},
        {"sincronizaCondPagamentos",
         "***** Tabela Cond. Pagamento *****",
         &sincronizaCondPagamentos,
         {"CONDPAGAMENTO"},
         {{"CONDPAGAMENTO", "select tid, nome, parcelas, data, dataatualizacao, tipo from condpagamento "
                            "where ativo = 1"}}},
        {"sincronizaTabelaPreco",
         "***** Tabela Preço *****",
         &sincronizaTabelaPreco,
         {"TABELAPRECO"},
         {{"TABELAPRECO", "select tid, tidcliente, tidproduto, ativo, data, dataatualizacao, forma, documento, "
                          "valor, pedido, datareferencia, codcliente from tabelaPreco where ativo = 1 and "
                          "datareferencia is not null"}}},
        {"sincronizaTransportadora",
         "***** Tabela Transportadora *****",
         &sincronizaTransportadora,
         {"TRANSPORTADORA"},
         {{"TRANSPORTADORA", "select tid, nome, endereco, bairro, cidade, cep, complemento, pessoaresp, ativo, "
                             "data, dataatualizacao, email, telefone, razaosocial from transportadora "
                             "where ativo = 1"}}},
        {"sincronizaConfig",
         "***** Tabela Config *****",
         &sincronizaConfig,
         {"CONFIG"},
         {{"CONFIG", "select current_date as datasincronizacao, tid, smtp, portaemail, usuario, senhaemail, "
                     "autenticemail, usuario as emailusuario, emaildestino, tituloemail, mensagem, codsoap, "
                     "loginsoap, senhasoap, codsoapdormer, loginsoapdormer, senhasoapdormer, ipi from config "
                     "where ativo = 1"}}},
        {"sincronizaArea",
         "***** Tabela Area *****",
         &sincronizaArea,
         {"AREA"},
         {{"AREA", "select tid, area, tidvendedor, observacao, ativo, data, dataatualizacao from area "
                   "where ativo = 1"}}},
        {"sincronizaContatosCliente",
         "***** Tabela Contato *****",
         &sincronizaContatosCliente,
         {"CONTATO"},
         {{"CONTATO", "select tid, tidempresa, nome, depto, telefone, celular, email, datanasc, ativo, "
                      "dataatualizacao from contato where ativo = 1"}}},
        {"sincronizaGPVendedor",
         "***** Tabela GPVendedor *****",
         &sincronizaGPVendedor,
         {"GPVENDEDOR"},
         {{"GPVENDEDOR", "select tid, desconto, gp, ativo, data, dataatualizacao, pg from GPVendedor "
                         "where ativo = 1"}}},
        {"sincronizaPedido",
         "***** Tabela Pedido *****",
         &sincronizaPedido,
         {"PEDIDO"},
         {{"PEDIDO", "select p.tid, p.tidcliente, p.npeddist, p.datareferencia, p.data, p.ativo, p.dataatualizacao "
                     "from pedido p where p.ativo = 1 and p.respcancel = 0 and exists (select 1 from "
                     "produtopedido pp where pp.tidpedido = p.tid and pp.ativo = 1 and pp.nf is null and "
                     "pp.fonte is null) order by p.tid"}}},
        {"sincronizaProdutoPedido",
         "***** Tabela Produto Pedido *****",
         &sincronizaProdutoPedido,
         {"PRODUTOPEDIDO"},
         {{"PRODUTOPEDIDO", "select p.tid, p.tidpedido, p.tidproduto, p.codigointerno, p.codprodcliente, p.pp, "
                            "p.valortotal, p.quantidade, p.dataentrega, p.ativo, p.data, p.dataatualizacao, "
                            "p.NPedCli, p.item from produtopedido p where p.ativo = 1 and p.nf is null and "
                            "p.fonte is null"}}},
        {"sincronizaCotaNegociacao",
         "***** Tabela CotaNegociação *****",
         &sincronizaCotaNegociacao,
         {"COTANEGOCIACAO", "PRODUTOCOTANEGOCIACAO"},
         {{"COTANEGOCIACAO", QUOTA_COLUMNS("100", "cast(null as varchar(3))") PHASE1 " order by c.ncotdist"},
          {"COTANEGOCIACAO", QUOTA_COLUMNS("1", "'EA'") PHASE2 " order by c.ncotdist"},
          {"PRODUTOCOTANEGOCIACAO", "select p.tidcotaneg, p.tidproduto, p.codigointerno, p.codprodcliente, "
                                    "p.desconto, p.quantcotada as "
                                    "quantidade, p.quantcotada, p.pp, p.prazoentrega, p.data, "
                                    "p.dataatualizacao, p.ativo, p.npedcliente, "
                                    "p.totpp, p.item, p.feedconco, p.feedprazo, p.feedpreco, p.feedritmo, "
                                    "p.feedprecovalor, p.feedperfo "
                                    "from cotanegociacao c inner join produtocotanegociacao p on c.tid = "
                                    "p.tidcotaneg where p.ativo = 1 "
                                    "and ((" PHASE1 ") or (" PHASE2 "))"}}},
        {"sincronizaAgendaVendedor",
         "***** Tabela AgendaVendedor *****",
         &sincronizaAgendaVendedor,
         {"AGENDAVENDEDOR"},
         {{"AGENDAVENDEDOR", "select tid, tidarea, datareferencia, data, dataatualizacao, ativo, status from "
                             "agendavendedor where ativo = 1"}}},
        {"sincronizaCVF",
         "***** Tabela CVF *****",
         &sincronizaCVF,
         {"CVF"},
         {{"CVF", "select c.ativo, c.data, c.dataatualizacao, c.tidcliente, c.tiporelatorio, c.idteste, "
                  "c.pessoacontato, c.descricaooperacao, c.beneficios, c.economiaano, c.datasubteste, "
                  "c.dataimplementacao, c.tempoproducao, c.descricaocurta, c.distribuicao, c.componente, "
                  "'Sim' as enviada from cvf c where c.ativo = 1 and c.idteste like 'MC-%' order by c.tid"}}},
    };
    return entries;
}

const CopyEntry* findCopy(std::string_view name) {
    for (const CopyEntry& e : catalogue())
        if (e.name == name)
            return &e;
    return nullptr;
}

} // namespace vela::bench
