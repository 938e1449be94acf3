// The generated back office's daily tables: orders and their items, quotas and their products, the
// sellers' agenda and the test reports.
#include "bench/GenerateTables.h"

#include <algorithm>

namespace vela::bench::generator {

namespace {

// Children spread evenly over their parents, in key order: the parent of a child, and the position
// of the child among its parent's (1 for the first), the item number a real order line has.
struct Spread {
    std::int64_t parent;
    std::int64_t position;
};

Spread spread(std::int64_t child, std::int64_t parents, std::int64_t children) {
    const std::int64_t parent = 1 + (child - 1) * parents / std::max<std::int64_t>(1, children);
    const std::int64_t first = 1 + ((parent - 1) * children + parents - 1) / parents;
    return {parent, child - first + 1};
}

} // namespace

void fillDailyTables(vela::Connection& db, Context& c) {
    Rng& r = c.rng;
    Text& t = c.text;
    const Clock& k = c.clock;
    const Pools& pools = c.pools;
    auto stamp = [&c](RowWriter& w, double nullShare = 0.05) -> RowWriter& { return c.stamp(w, nullShare); };

    // Orders and their items: the items of an order follow each other, about six per order. An
    // order is open while it is not cancelled and has an active item without invoice and source.
    fillTable(db, "pedido", split("tid,tidcliente,npeddist,datareferencia,data,ativo,dataatualizacao,respcancel"),
              c.pedidos, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid);
                  isNull(r, 0.02) ? w.null() : w.i32(r.range(1, c.empresas));
                  isNull(r, 0.02) ? w.null() : w.str(t.code("PD-2024-", tid, 7));
                  isNull(r, 0.03) ? w.null() : w.ts(k.daysAgo(r, 0, 700));
                  stamp(w);
                  w.i32(ativo(r, 0.05));
                  stamp(w);
                  double p = static_cast<double>(r.next() % 1000) / 1000.0;
                  p < 0.85 ? w.i32(0) : (p < 0.97 ? w.i32(1) : w.null());
              });

    fillTable(db, "produtopedido",
              split("tid,tidpedido,tidproduto,codigointerno,codprodcliente,pp,valortotal,quantidade,dataentrega,"
                    "ativo,data,dataatualizacao,npedcli,item,nf,fonte"),
              c.itens, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  const Spread item = spread(tid, c.pedidos, c.itens);
                  w.i32(tid).i32(item.parent).i32(r.range(1, std::max<std::int64_t>(1, c.produtos)));
                  isNull(r, 0.02) ? w.null()
                                  : w.str(t.code("CI", r.range(1, std::max<std::int64_t>(1, c.produtos)), 7));
                  isNull(r, 0.2) ? w.null() : w.str(t.words(150, 6, 30));
                  std::int64_t pp = money(r, 3000), qty = r.range(1, 500);
                  w.num2(pp).num2(pp * qty).num2(qty * 100);
                  isNull(r, 0.1) ? w.null() : w.date(k.today + static_cast<ISC_DATE>(r.range(-60, 120)));
                  w.i32(ativo(r, 0.05));
                  stamp(w);
                  stamp(w);
                  isNull(r, 0.3) ? w.null() : w.str(t.code("OC ", r.range(1, 999999), 6));
                  w.i32(std::min<std::int64_t>(item.position, 32767));
                  isNull(r, 0.5) ? w.null() : w.str(t.code("NF ", r.range(1, 999999), 6));
                  r.chance(0.9) ? w.null() : w.str("Importação");
              });

    // Quotas: regular ones copied while open ('A') and less than 90 days old, CM ones ("CM-") in any
    // situation while less than 547 days old; the rest is older, closed or inactive.
    fillTable(db, "cotanegociacao",
              split("tid,tidcondpagamento,tidcliente,motivocancelamento,datareferencia,ncotdist,respcancel,"
                    "observacao,dataatualizacao,data,ativo,pppacote,enviada,situacao"),
              c.cotas, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  bool cm = r.chance(0.3);
                  w.i32(tid);
                  isNull(r) ? w.null() : w.i32(r.range(1, c.condpag));
                  isNull(r, 0.02) ? w.null() : w.i32(r.range(1, c.empresas));
                  isNull(r, 0.5) ? w.null() : w.str(t.words(150, 6, 40));
                  if (isNull(r, 0.01))
                      w.null();
                  else if (cm)
                      w.ts(r.chance(0.85) ? k.daysAgo(r, 0, 540) : k.daysAgo(r, 550, 1500));
                  else
                      w.ts(r.chance(0.8) ? k.daysAgo(r, 0, 85) : k.daysAgo(r, 95, 1500));
                  if (isNull(r, 0.01))
                      w.null();
                  else
                      w.str(t.code(cm ? (r.chance(0.05) ? "cm-" : "CM-") : "COT-", tid, 7));
                  double p = static_cast<double>(r.next() % 1000) / 1000.0;
                  p < 0.7 ? w.str("0") : p < 0.8 ? w.str("1") : p < 0.9 ? w.str("2") : p < 0.95 ? w.null() : w.str("9");
                  isNull(r, 0.4) ? w.null() : w.str(t.words(500, 10, 200));
                  stamp(w);
                  stamp(w);
                  w.i32(ativo(r, 0.08));
                  isNull(r, 0.1) ? w.null() : w.num2(money(r, 100000));
                  isNull(r, 0.6) ? w.null() : w.str("Sim");
                  w.str(r.chance(0.85) ? "A" : (r.chance(0.5) ? "F" : "C"));
              });

    fillTable(db, "produtocotanegociacao",
              split("tid,tidcotaneg,tidproduto,codigointerno,codprodcliente,desconto,quantidade,quantcotada,pp,"
                    "prazoentrega,data,dataatualizacao,ativo,npedcliente,totpp,item,feedconco,feedprazo,feedpreco,"
                    "feedritmo,feedprecovalor,feedperfo"),
              c.produtoscota, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  const Spread product = spread(tid, c.cotas, c.produtoscota);
                  w.i32(tid).i32(product.parent).i32(r.range(1, std::max<std::int64_t>(1, c.produtos)));
                  isNull(r, 0.02) ? w.null()
                                  : w.str(t.code("CI", r.range(1, std::max<std::int64_t>(1, c.produtos)), 7));
                  isNull(r, 0.3) ? w.null() : w.str(t.words(150, 6, 30));
                  isNull(r) ? w.null() : w.dbl(static_cast<double>(r.range(0, 300)) / 10.0);
                  std::int64_t qty = r.range(1, 1000), pp = money(r, 3000);
                  isNull(r) ? w.null() : w.num2(qty * 100);
                  isNull(r) ? w.null() : w.num2(r.range(1, 1000) * 100);
                  w.num2(pp);
                  isNull(r) ? w.null() : w.str(t.format("%lld dias", r.range(1, 120)));
                  stamp(w);
                  stamp(w);
                  w.i32(ativo(r, 0.07));
                  isNull(r, 0.4) ? w.null() : w.str(t.code("OC ", r.range(1, 999999), 6));
                  isNull(r) ? w.null() : w.num2(pp * qty);
                  w.i32(std::min<std::int64_t>(product.position, 32767));
                  for (int f = 0; f < 4; ++f)
                      isNull(r, 0.3) ? w.null() : w.str(t.pick(pools.feedback));
                  isNull(r, 0.3) ? w.null() : w.num2(money(r, 3000));
                  isNull(r, 0.3) ? w.null() : w.str(t.pick(pools.feedback));
              });

    fillTable(db, "agendavendedor", split("tid,tidarea,datareferencia,data,dataatualizacao,ativo,status"), c.agenda, c,
              [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid);
                  isNull(r, 0.02) ? w.null() : w.i32(r.range(1, c.areas));
                  isNull(r, 0.02) ? w.null() : w.ts(k.daysAgo(r, 0, 400));
                  stamp(w);
                  stamp(w);
                  w.i32(ativo(r));
                  isNull(r) ? w.null() : w.str(t.pick(pools.agenda));
              });

    // Test reports: only active ones whose identifier begins with "MC-" (capitals) are copied.
    fillTable(db, "cvf",
              split("tid,ativo,data,dataatualizacao,tidcliente,tiporelatorio,atualizarcvf,idteste,pessoacontato,"
                    "descricaooperacao,acaocoromant,beneficios,economiaano,criadopor,datasubteste,"
                    "dataimplementacao,tiporateio,tempoproducao,descricaocurta,distribuicao,componente,finalproj,"
                    "naoimplementado,enviada"),
              c.cvf, c, [&](RowWriter& w, std::int64_t tid, Context&) {
                  w.i32(tid).i32(ativo(r));
                  stamp(w);
                  stamp(w);
                  isNull(r, 0.02) ? w.null() : w.i32(r.range(1, c.empresas));
                  isNull(r) ? w.null() : w.str(t.pick(pools.reports));
                  isNull(r, 0.5) ? w.null() : w.str(r.chance(0.5) ? "Sim" : "Não");
                  double p = static_cast<double>(r.next() % 1000) / 1000.0;
                  w.str(t.code(p < 0.75 ? "MC-" : p < 0.8 ? "mc-" : "TC-", tid, 7));
                  isNull(r) ? w.null() : w.str(t.person());
                  isNull(r, 0.1) ? w.null() : w.str(t.words(1000, 100, 600));
                  isNull(r, 0.5) ? w.null() : w.str(t.words(100, 10, 60));
                  isNull(r, 0.1) ? w.null() : w.str(t.words(1000, 100, 600));
                  isNull(r) ? w.null() : w.num2(money(r, 500000));
                  isNull(r) ? w.null() : w.str(t.person());
                  isNull(r, 0.1) ? w.null() : w.ts(k.daysAgo(r, 0, 2000));
                  isNull(r, 0.3) ? w.null() : w.ts(k.daysAgo(r, 0, 2000));
                  isNull(r, 0.5) ? w.null() : w.str(t.words(50, 5, 30));
                  isNull(r) ? w.null() : w.num2(r.range(1, 100000));
                  isNull(r) ? w.null() : w.str(t.words(100, 10, 80));
                  isNull(r) ? w.null() : w.i32(r.range(0, 100));
                  isNull(r) ? w.null() : w.str(t.words(100, 6, 50));
                  isNull(r, 0.5) ? w.null() : w.ts(k.daysAgo(r, 0, 2000));
                  isNull(r, 0.5) ? w.null() : w.num2(r.range(0, 100000));
                  isNull(r, 0.5) ? w.null() : w.str("Não");
              });
}

} // namespace vela::bench::generator
