// The generated back office's reference tables: states, users, fiscal classes, products, statuses,
// companies, payment terms, price rows, carriers, settings, areas, contacts and seller groups.
#include "bench/GenerateTables.h"

#include <algorithm>

namespace vela::bench::generator {

void fillReferenceTables(vela::Connection& db, Context& c) {
    Rng& r = c.rng;
    Text& t = c.text;
    const Clock& k = c.clock;
    const Pools& pools = c.pools;
    auto stamp = [&c](RowWriter& w, double nullShare = 0.05) -> RowWriter& { return c.stamp(w, nullShare); };

    static const char* const ufs[27][2] = {{"AC", "Acre"},
                                           {"AL", "Alagoas"},
                                           {"AP", "Amapá"},
                                           {"AM", "Amazonas"},
                                           {"BA", "Bahia"},
                                           {"CE", "Ceará"},
                                           {"DF", "Distrito Federal"},
                                           {"ES", "Espírito Santo"},
                                           {"GO", "Goiás"},
                                           {"MA", "Maranhão"},
                                           {"MT", "Mato Grosso"},
                                           {"MS", "Mato Grosso do Sul"},
                                           {"MG", "Minas Gerais"},
                                           {"PA", "Pará"},
                                           {"PB", "Paraíba"},
                                           {"PR", "Paraná"},
                                           {"PE", "Pernambuco"},
                                           {"PI", "Piauí"},
                                           {"RJ", "Rio de Janeiro"},
                                           {"RN", "Rio Grande do Norte"},
                                           {"RS", "Rio Grande do Sul"},
                                           {"RO", "Rondônia"},
                                           {"RR", "Roraima"},
                                           {"SC", "Santa Catarina"},
                                           {"SP", "São Paulo"},
                                           {"SE", "Sergipe"},
                                           {"TO", "Tocantins"}};
    fillTable(db, "estado", split("tid,uf,descricao,icms,ativo,data,dataatualizacao,codibge"), c.estados, c,
              [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid).str(ufs[tid - 1][0]).str(vela::cp1252::fromUtf8(ufs[tid - 1][1]));
                  w.dbl(static_cast<double>(r.range(7, 19)));
                  w.i32(tid == 27 ? 0 : 1); // one state retired
                  stamp(w);
                  stamp(w);
                  if (isNull(r, 0.1))
                      w.null();
                  else
                      w.i32(11 + tid);
              });

    fillTable(db, "usuario",
              split("tid,ativo,data,dataatualizacao,login,senha,nome,tidarea1,tidarea2,tidarea3,tidarea4,"
                    "tidarea5,tidarea6,tidarea7,tidarea8,tidarea9,tidarea10"),
              c.usuarios, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid).i32(ativo(r));
                  stamp(w);
                  stamp(w);
                  w.str(t.format("vendedor.%lld", tid));
                  w.str(t.words(r.chance(0.1) ? 150 : 24, 8, 24)); // passwords as the back office keeps them
                  w.str(t.person());
                  std::int64_t areas = r.range(0, 10);
                  for (std::int64_t a = 1; a <= 10; ++a) {
                      if (a <= areas)
                          w.i32(r.range(1, c.areas));
                      else
                          w.null();
                  }
              });

    fillTable(db, "clasfiscal",
              split("tid,descricao,ipi,ativo,data,dataatualizacao,icms,observacao,letra,icmsentrada,icmsinterno"),
              c.clasfiscal, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid).str(t.words(150, 10, 50));
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 150)) / 10.0);
                  w.i32(ativo(r, 0.05));
                  stamp(w);
                  stamp(w);
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 25)));
                  isNull(r, 0.3) ? w.null() : w.str(t.words(500, 20, 200));
                  isNull(r) ? w.null() : w.str(t.code("", r.range(0, 99), 2));
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 25)));
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 25)));
              });

    fillTable(db, "produto",
              split("tid,codexp,codinterno,pc,pl,pv,dataatualizacao,ativo,descricao,tidfabricante,tidclasfiscais,"
                    "estoqueatual,desconto,origem,status,maingroup,tidstatus,descontoadicional,minimocompravenda,"
                    "pg,desccompensa,pcproduto,data"),
              c.produtos, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid);
                  isNull(r) ? w.null() : w.str(t.code("EXP-", tid * 7 + 3, 8));
                  isNull(r, 0.02) ? w.null() : w.str(t.code(r.chance(0.5) ? "CI" : "TQ-", tid, 7));
                  isNull(r) ? w.null() : w.num2(money(r, 5000));
                  isNull(r) ? w.null() : w.num2(money(r, 5000));
                  // A few products have no sale price (zero, negative or none) and are not copied.
                  double p = static_cast<double>(r.next() % 1000) / 1000.0;
                  if (p < 0.01)
                      w.null();
                  else if (p < 0.025)
                      w.num2(0);
                  else if (p < 0.03)
                      w.num2(-money(r, 10));
                  else
                      w.num2(money(r, 9000));
                  stamp(w);
                  w.i32(ativo(r, 0.12));
                  isNull(r, 0.02) ? w.null() : w.str(t.words(150, 20, 90));
                  isNull(r) ? w.null() : w.i32(r.range(1, 900));
                  isNull(r) ? w.null() : w.i32(r.range(1, c.clasfiscal));
                  w.num2(r.range(0, 10000000)); // estoqueatual is required
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 300)) / 10.0);
                  isNull(r) ? w.null() : w.str(t.code("", r.range(0, 8), r.chance(0.1) ? 3 : 1));
                  isNull(r) ? w.null() : w.str(r.chance(0.5) ? "A" : "IN");
                  isNull(r) ? w.null() : w.str(t.code("G", r.range(0, 99), 2));
                  isNull(r) ? w.null() : w.i32(r.range(1, c.status));
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 100)) / 10.0);
                  isNull(r, 0.2) ? w.null() : w.num2(r.range(100, 100000));
                  isNull(r) ? w.null() : w.i32(r.range(0, 9));
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 50)) / 10.0);
                  isNull(r, 0.2) ? w.null() : w.num2(money(r, 5000));
                  stamp(w);
              });

    fillTable(db, "status", split("tid,status,ativo,data,dataatualizacao"), c.status, c,
              [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid).str(t.words(150, 6, 30)).i32(ativo(r, 0.15));
                  stamp(w);
                  stamp(w);
              });

    fillTable(db, "empresa",
              split("tid,tiduf,tidcondpagamento,tidtransportadora,tidarea,ativo,data,dataatualizacao,razaosocial,"
                    "nomefantasia,endereco,bairro,cidade,cep,complemento,telefone,emailcontato,pessoacontato,cnpj,"
                    "tipoempresa,deptocontato,tipofrete"),
              c.empresas, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  bool own = tid == 1; // the company itself: its trade name names the upload folder
                  w.i32(tid).i32(r.range(1, 27)).i32(r.range(1, c.condpag)).i32(r.range(1, c.transportadoras));
                  isNull(r) ? w.null() : w.i32(r.range(1, c.areas));
                  w.i32(own ? 1 : ativo(r));
                  stamp(w);
                  stamp(w);
                  // Companies without a company name are counted but not copied.
                  double p = static_cast<double>(r.next() % 1000) / 1000.0;
                  if (own)
                      w.str("Casa do Norte Comercial Ltda");
                  else if (p < 0.015)
                      w.null();
                  else if (p < 0.025)
                      w.str("   ");
                  else
                      w.str(t.words(150, 15, 70));
                  if (own)
                      w.str("Casa do Norte Comercial");
                  else
                      isNull(r, 0.05) ? w.null() : w.str(t.words(150, 6, 40));
                  w.str(t.address());
                  isNull(r) ? w.null() : w.str(t.pick(pools.districts));
                  w.str(t.pick(pools.cities));
                  w.str(t.format("%05lld-%03lld", r.range(1000, 99999), r.range(0, 999)));
                  isNull(r, 0.4) ? w.null() : w.str(t.words(150, 4, 20));
                  w.str(t.format("(%02lld) %04lld-%04lld", r.range(11, 99), r.range(2000, 9999), r.range(0, 9999)));
                  isNull(r) ? w.null() : w.str(t.email(tid));
                  isNull(r) ? w.null() : w.str(t.person());
                  w.str(t.format("%02lld.%03lld.%03lld/0001-00", r.range(1, 99), r.range(0, 999), r.range(0, 999)));
                  w.str(own ? "E" : "C");
                  isNull(r) ? w.null() : w.str(t.pick(pools.departments));
                  isNull(r) ? w.null() : w.i32(r.range(0, 2));
              });

    fillTable(db, "condpagamento", split("tid,nome,parcelas,ativo,data,dataatualizacao,tipo"), c.condpag, c,
              [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid).str(t.pick(pools.terms));
                  isNull(r) ? w.null() : w.i32(r.range(1, 12));
                  w.i32(ativo(r));
                  stamp(w);
                  stamp(w);
                  isNull(r) ? w.null() : w.str(r.chance(0.5) ? "N" : "E");
              });

    fillTable(db, "tabelapreco",
              split("tid,tidcliente,tidproduto,ativo,data,dataatualizacao,forma,documento,valor,pedido,"
                    "datareferencia,codcliente"),
              c.tabelapreco, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid);
                  isNull(r, 0.05) ? w.null() : w.i32(r.range(1, c.empresas));
                  w.i32(r.range(1, std::max<std::int64_t>(1, c.produtos)));
                  w.i32(ativo(r));
                  stamp(w);
                  stamp(w);
                  isNull(r) ? w.null() : w.str(t.words(15, 3, 15));
                  isNull(r) ? w.null() : w.str(t.code("DOC ", r.range(1, 999999), 6));
                  isNull(r) ? w.null() : w.num2(money(r, 9000));
                  isNull(r, 0.3) ? w.null() : w.str(t.code("PED ", r.range(1, 999999), 6));
                  // Price rows without a reference date are neither copied nor counted.
                  isNull(r, 0.05) ? w.null() : w.ts(k.daysAgo(r, 0, 1500));
                  isNull(r) ? w.null() : w.str(t.code("CLI-", r.range(1, 99999), 5));
              });

    fillTable(db, "transportadora",
              split("tid,nome,endereco,bairro,cidade,cep,complemento,pessoaresp,ativo,data,dataatualizacao,email,"
                    "telefone,razaosocial"),
              c.transportadoras, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid).str(t.words(150, 8, 40));
                  w.str(t.address());
                  isNull(r) ? w.null() : w.str(t.pick(pools.districts));
                  w.str(t.pick(pools.cities));
                  w.str(t.format("%05lld-%03lld", r.range(1000, 99999), r.range(0, 999)));
                  isNull(r, 0.4) ? w.null() : w.str(t.words(150, 4, 20));
                  isNull(r) ? w.null() : w.str(t.person());
                  w.i32(ativo(r));
                  stamp(w);
                  stamp(w);
                  isNull(r) ? w.null() : w.str(t.email(tid));
                  w.str(t.format("(%02lld) %04lld-%04lld", r.range(11, 99), r.range(2000, 9999), r.range(0, 9999)));
                  isNull(r) ? w.null() : w.str(t.words(150, 15, 60));
              });

    fillTable(
        db, "config",
        split("tid,smtp,portaemail,usuario,senhaemail,autenticemail,emailusuario,emaildestino,tituloemail,"
              "mensagem,codsoap,loginsoap,senhasoap,codsoapdormer,loginsoapdormer,senhasoapdormer,ipi,"
              "datasincronizacao,ativo"),
        c.configs, c, [&](RowWriter& w, std::int64_t tid, Context&) {
            w.i32(tid).str("smtp.casadonorte.com.br").i32(587).str(t.format("vendas%lld@casadonorte.com.br", tid));
            w.str(t.words(40, 8, 16)).str("Sim").str("nao-lido@casadonorte.com.br");
            w.str("pedidos@casadonorte.com.br").str(t.words(80, 10, 40));
            w.str(t.words(1000, tid == 1 ? 1000 : 100, tid == 1 ? 1000 : 400));
            w.str("SOAP01").str("soap.vendas").str(t.words(30, 8, 12));
            w.str("DORM01").str("soap.dormer").str(t.words(30, 8, 12));
            w.str(t.format("%lld", r.range(0, 15)));
            w.date(k.today - 10);
            w.i32(tid == 3 ? 0 : 1);
        });

    fillTable(db, "area", split("tid,area,tidvendedor,observacao,ativo,data,dataatualizacao"), c.areas, c,
              [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid);
                  isNull(r, 0.03) ? w.null() : w.str(t.pick(pools.cities));
                  isNull(r) ? w.null() : w.i32(r.range(1, c.usuarios));
                  isNull(r, 0.4) ? w.null() : w.str(t.words(500, 20, 300));
                  w.i32(ativo(r));
                  stamp(w);
                  stamp(w);
              });

    fillTable(
        db, "contato", split("tid,tidempresa,nome,depto,telefone,celular,email,datanasc,ativo,dataatualizacao,data"),
        c.contatos, c, [&](RowWriter& w, std::int64_t tid, Context&) {
            w.i32(tid).i32(r.range(1, c.empresas));
            isNull(r, 0.02) ? w.null() : w.str(t.person());
            isNull(r) ? w.null() : w.str(t.pick(pools.departments));
            isNull(r)
                ? w.null()
                : w.str(t.format("(%02lld) %04lld-%04lld", r.range(11, 99), r.range(2000, 9999), r.range(0, 9999)));
            isNull(r, 0.2)
                ? w.null()
                : w.str(t.format("(%02lld) 9%04lld-%04lld", r.range(11, 99), r.range(1000, 9999), r.range(0, 9999)));
            isNull(r) ? w.null() : w.str(t.email(tid));
            isNull(r, 0.3) ? w.null() : w.ts(k.daysAgo(r, 6000, 25000));
            w.i32(ativo(r));
            stamp(w);
            stamp(w);
        });

    fillTable(db, "gpvendedor", split("tid,desconto,gp,ativo,data,dataatualizacao,pg"), c.gpvendedor, c,
              [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid);
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 400)) / 10.0);
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 1000)) / 10.0);
                  w.i32(ativo(r));
                  stamp(w);
                  stamp(w);
                  isNull(r) ? w.null() : w.i32(r.range(0, 9));
              });
}

} // namespace vela::bench::generator
