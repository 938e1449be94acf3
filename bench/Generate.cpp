// Fills a back-office database for the benchmark: the source schema of the tests, with rows spread
// over its nineteen tables in the proportions of a real back office (many products, price rows,
// order items and quota products; few states, users and settings), Windows-1252 text with accents,
// NULLs, lengths at the column limits and a share of rows that the synchronization leaves out.
//
//   generate --rows N --out backoffice.fdb [--seed S] [--no-indexes]
//
// The rows go in through one prepared INSERT per table inside one transaction; the file is created
// with isql from the schema script, so it is exactly the layout the tests use.

#include "db/Connection.h"
#include "common/Cp1252.h"
#include "common/Error.h"
#include "db/Statement.h"
#include "db/Transaction.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;
using vela::Message;

namespace {

// ---- randomness: fixed seed, so a given --rows always gives the same database -----------------

class Rng {
public:
    explicit Rng(std::uint64_t seed) : s_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    std::uint64_t next() {
        // splitmix64
        std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi].
    std::int64_t range(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
    template <typename T> const T& pick(const std::vector<T>& v) { return v[next() % v.size()]; }

private:
    std::uint64_t s_;
};

// ---- Windows-1252 text ----------------------------------------------------------------------

std::vector<std::string> cp(std::initializer_list<const char*> utf8) {
    std::vector<std::string> out;
    for (const char* s : utf8)
        out.push_back(vela::cp1252::fromUtf8(s));
    return out;
}

struct Pools {
    // The 0x80-0x9F range of the code page (euro sign, curly quotes, dashes) is in here on purpose:
    // it is where Windows-1252 and Latin-1 differ.
    std::vector<std::string> words = cp(
        {"Parafuso",   "Porca",     "Arruela",     "Broca",      "Fresa",      "Inserto", "Cabeça",       "Sextavada",
         "Aço",        "Inox",      "Galvanizado", "Métrica",    "Rosca",      "Fina",    "Grossa",       "Pressão",
         "Hidráulica", "Conexão",   "Válvula",     "Mangueira",  "Rolamento",  "Óleo",    "Lubrificação", "Máquina",
         "Usinagem",   "Tornearia", "Serviço",     "Manutenção", "Elétrica",   "Bobina",  "Engrenagem",   "Polia",
         "Correia",    "Câmbio",    "Pistão",      "Vedação",    "Junta",      "Anel",    "Retentor",     "Ø12mm",
         "nº",         "1ª",        "linha",       "–",          "“especial”", "€",       "série",        "útil",
         "coração",    "ênfase",    "à",           "vista",      "Ü",          "çç",      "pré-moldado",  "ferramenta",
         "Ótima",      "Íntegro"});
    std::vector<std::string> first =
        cp({"José",   "João",   "Antônio", "Mário", "Conceição", "Inês", "Lúcia", "Sebastião", "Fábio", "Cláudia",
            "Márcia", "Ângela", "Débora",  "Renée", "Zoë",       "Luís", "Vânia", "Célia",     "André", "Otávio"});
    std::vector<std::string> last =
        cp({"Gonçalves", "Araújo", "Simões", "Magalhães", "Brandão", "Azevedo", "Peçanha", "Conceição", "Gusmão",
            "Lemos", "D’Ávila", "Nóbrega", "Assunção", "Falcão", "Guimarães", "Sá", "Furtado", "Müller"});
    std::vector<std::string> cities = cp(
        {"São Paulo", "Jundiaí", "Maringá", "Goiânia", "Florianópolis", "Ribeirão Preto", "Belém", "Macaé", "Niterói",
         "Cuiabá", "Vitória da Conquista", "São José dos Pinhais", "Criciúma", "Paranaguá", "Uberlândia", "Itajaí"});
    std::vector<std::string> streets = cp({"Rua", "Avenida", "Travessa", "Alameda", "Rodovia", "Praça"});
    std::vector<std::string> districts = cp({"Centro", "Jardim América", "Vila São João", "Distrito Industrial",
                                             "Bela Vista", "Santa Efigênia", "Jardim Paraíso", "Água Verde"});
    std::vector<std::string> terms = cp({"À vista", "30 dias", "30/60 dias", "30/60/90 dias", "28 dias", "Antecipado",
                                         "Boleto 45 dias", "Cartão – 3x"});
    std::vector<std::string> departments = cp(
        {"Compras", "Manutenção", "Produção", "Engenharia", "Suprimentos", "Diretoria", "Almoxarifado", "Qualidade"});
    std::vector<std::string> agenda =
        cp({"Visita", "Reunião", "Concluída", "Pendente", "Cancelada", "Retorno", "Demonstração"});
    std::vector<std::string> feedback =
        cp({"Ótimo", "Bom", "Regular", "Ruim", "Acima do esperado", "Prazo curto", "Preço alto", "Sem retorno"});
    std::vector<std::string> reports = cp({"Relatório de teste", "Teste de produtividade", "Redução de custo",
                                           "Ensaio comparativo", "Análise de vida útil"});
};

// Builds one text value at a time in a buffer reused for every row.
class Text {
public:
    Text(Rng& rng, const Pools& pools) : rng_(rng), pools_(pools) {}

    // Words up to a length: mostly short, now and then exactly the column's limit (the copy must
    // carry a full column unharmed).
    std::string_view words(unsigned limit, unsigned typicalMin = 8, unsigned typicalMax = 60) {
        unsigned target;
        if (rng_.chance(0.06))
            target = limit;
        else
            target = static_cast<unsigned>(
                rng_.range(typicalMin < limit ? typicalMin : 1, typicalMax < limit ? typicalMax : limit));
        buf_.clear();
        while (buf_.size() < target) {
            if (!buf_.empty())
                buf_.push_back(' ');
            buf_ += rng_.pick(pools_.words);
        }
        buf_.resize(target);
        return buf_;
    }
    std::string_view person() {
        buf_ = rng_.pick(pools_.first);
        buf_ += ' ';
        buf_ += rng_.pick(pools_.last);
        if (rng_.chance(0.5)) {
            buf_ += ' ';
            buf_ += rng_.pick(pools_.last);
        }
        return buf_;
    }
    std::string_view code(const char* prefix, std::int64_t n, int digits = 6) {
        char tmp[64];
        std::snprintf(tmp, sizeof tmp, "%s%0*lld", prefix, digits, static_cast<long long>(n));
        buf_ = tmp;
        return buf_;
    }
    std::string_view format(const char* fmt, long long a, long long b = 0, long long c = 0) {
        char tmp[256];
        std::snprintf(tmp, sizeof tmp, fmt, a, b, c);
        buf_ = tmp;
        return buf_;
    }
    std::string_view address() {
        buf_ = rng_.pick(pools_.streets);
        buf_ += ' ';
        buf_ += rng_.pick(pools_.last);
        buf_ += ", ";
        buf_ += std::to_string(rng_.range(1, 9999));
        return buf_;
    }
    std::string_view email(std::int64_t n) {
        char tmp[64];
        std::snprintf(tmp, sizeof tmp, "contato%lld@cliente%lld.com.br", static_cast<long long>(n),
                      static_cast<long long>(n % 997));
        buf_ = tmp;
        return buf_;
    }
    std::string_view pick(const std::vector<std::string>& v) { return rng_.pick(v); }

private:
    Rng& rng_;
    const Pools& pools_;
    std::string buf_;
};

// ---- dates ----------------------------------------------------------------------------------

struct Clock {
    ISC_DATE today = 0;
    unsigned nowSeconds = 0; // seconds since midnight

    Clock() {
        std::time_t t = std::time(nullptr);
        std::tm tm{};
        localtime_r(&t, &tm);
        auto* util = vela::fb::util();
        today = util->encodeDate(static_cast<unsigned>(tm.tm_year + 1900), static_cast<unsigned>(tm.tm_mon + 1),
                                 static_cast<unsigned>(tm.tm_mday));
        nowSeconds = static_cast<unsigned>(tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
    }
    // A moment `days` days back (fractional part drawn at random), never in the future.
    ISC_TIMESTAMP daysAgo(Rng& rng, std::int64_t minDays, std::int64_t maxDays) const {
        std::int64_t days = rng.range(minDays, maxDays);
        unsigned secs = static_cast<unsigned>(rng.range(0, 86399));
        if (days == 0 && secs > nowSeconds)
            secs = nowSeconds;
        return ISC_TIMESTAMP{static_cast<ISC_DATE>(today - days),
                             static_cast<ISC_TIME>(secs * 10000u + static_cast<unsigned>(rng.range(0, 9999)))};
    }
};

// ---- one table ------------------------------------------------------------------------------

// Sets the parameters of one row in column order.
class RowWriter {
public:
    explicit RowWriter(Message& m) : m_(m) {}
    RowWriter& i32(std::int64_t v) {
        m_.setInt64(i_++, v);
        return *this;
    }
    RowWriter& num2(std::int64_t hundredths) {
        m_.setInt64(i_++, hundredths, -2);
        return *this;
    }
    RowWriter& dbl(double v) {
        m_.setDouble(i_++, v);
        return *this;
    }
    RowWriter& ts(ISC_TIMESTAMP v) {
        m_.setTimestamp(i_++, v);
        return *this;
    }
    RowWriter& date(ISC_DATE v) {
        m_.setDate(i_++, v);
        return *this;
    }
    RowWriter& str(std::string_view v) {
        m_.setBytes(i_++, v);
        return *this;
    }
    RowWriter& null() {
        m_.setNull(i_++);
        return *this;
    }
    size_t count() const { return i_; }

private:
    Message& m_;
    size_t i_ = 0;
};

struct Context {
    Rng& rng;
    Text& text;
    const Clock& clock;
    const Pools& pools;
    // Row counts of every table, so references point at rows that exist.
    std::int64_t estados, usuarios, clasfiscal, produtos, status, empresas, condpag, tabelapreco, transportadoras,
        configs, areas, contatos, gpvendedor, pedidos, itens, cotas, produtoscota, agenda, cvf;
};

using FillRow = std::function<void(RowWriter&, std::int64_t tid, Context&)>;

void fillTable(vela::Connection& db, const std::string& table, const std::vector<std::string>& columns,
               std::int64_t rows, Context& ctx, const FillRow& fill) {
    if (rows <= 0)
        return;
    std::string sql = "insert into " + table + " (";
    std::string marks;
    for (size_t i = 0; i < columns.size(); ++i) {
        sql += (i ? ", " : "") + columns[i];
        marks += i ? ", ?" : "?";
    }
    sql += ") values (" + marks + ")";
    vela::Statement insert(db, "insert " + table, sql);
    insert.prepare();
    Message& params = insert.params();
    for (std::int64_t tid = 1; tid <= rows; ++tid) {
        RowWriter w(params);
        fill(w, tid, ctx);
        if (w.count() != columns.size())
            throw vela::Error("generator of " + table + " set " + std::to_string(w.count()) + " of " +
                              std::to_string(columns.size()) + " columns");
        insert.execute();
    }
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        out.push_back(item);
    return out;
}

// ---- proportions ----------------------------------------------------------------------------

void plan(Context& c, std::int64_t rows) {
    // Small tables keep the size of a real installation; below 100,000 rows they shrink with it.
    double f = rows >= 100000 ? 1.0 : static_cast<double>(rows) / 100000.0;
    auto small = [&](std::int64_t full) { return std::max<std::int64_t>(1, static_cast<std::int64_t>(full * f)); };
    c.estados = 27;
    c.usuarios = small(40);
    c.clasfiscal = small(120);
    c.status = small(12);
    c.condpag = small(35);
    c.transportadoras = small(80);
    c.configs = 3;
    c.areas = small(60);
    c.gpvendedor = small(400);
    std::int64_t fixed = c.estados + c.usuarios + c.clasfiscal + c.status + c.condpag + c.transportadoras + c.configs +
                         c.areas + c.gpvendedor;
    std::int64_t rest = std::max<std::int64_t>(0, rows - fixed);
    auto share = [&](double w) { return static_cast<std::int64_t>(static_cast<double>(rest) * w); };
    c.produtos = share(0.18);
    c.tabelapreco = share(0.20);
    c.empresas = std::max<std::int64_t>(1, share(0.04));
    c.contatos = share(0.06);
    c.pedidos = std::max<std::int64_t>(1, share(0.035));
    c.cotas = std::max<std::int64_t>(1, share(0.015));
    c.agenda = share(0.04);
    c.cvf = share(0.03);
    c.produtoscota = share(0.20);
    // Order items take what is left, so the total is exactly --rows.
    c.itens = rest - (c.produtos + c.tabelapreco + c.empresas + c.contatos + c.pedidos + c.cotas + c.agenda + c.cvf +
                      c.produtoscota);
    if (c.itens < 0)
        c.itens = 0;
}

std::int64_t total(const Context& c) {
    return c.estados + c.usuarios + c.clasfiscal + c.produtos + c.status + c.empresas + c.condpag + c.tabelapreco +
           c.transportadoras + c.configs + c.areas + c.contatos + c.gpvendedor + c.pedidos + c.itens + c.cotas +
           c.produtoscota + c.agenda + c.cvf;
}

// ---- the nineteen tables --------------------------------------------------------------------

// Most rows are active; a share is not, and the copies must skip it.
std::int64_t ativo(Rng& r, double inactive = 0.1) {
    return r.chance(inactive) ? 0 : 1;
}

// A nullable value is NULL now and then.
bool isNull(Rng& r, double p = 0.07) {
    return r.chance(p);
}

std::int64_t money(Rng& r, std::int64_t maxReais) {
    return r.range(1, maxReais * 100);
}

void fillAll(vela::Connection& db, Context& c) {
    Rng& r = c.rng;
    Text& t = c.text;
    const Clock& k = c.clock;
    const Pools& pools = c.pools;
    auto stamp = [&](RowWriter& w, double nullShare = 0.05) -> RowWriter& {
        if (isNull(r, nullShare))
            return w.null();
        return w.ts(k.daysAgo(r, 0, 3000));
    };

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
                  std::int64_t order = 1 + (tid - 1) * c.pedidos / std::max<std::int64_t>(1, c.itens);
                  std::int64_t first = 1 + ((order - 1) * c.itens + c.pedidos - 1) / c.pedidos;
                  w.i32(tid).i32(order).i32(r.range(1, std::max<std::int64_t>(1, c.produtos)));
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
                  w.i32(std::min<std::int64_t>(tid - first + 1, 32767));
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
                  std::int64_t quota = 1 + (tid - 1) * c.cotas / std::max<std::int64_t>(1, c.produtoscota);
                  std::int64_t first = 1 + ((quota - 1) * c.produtoscota + c.cotas - 1) / c.cotas;
                  w.i32(tid).i32(quota).i32(r.range(1, std::max<std::int64_t>(1, c.produtos)));
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
                  w.i32(std::min<std::int64_t>(tid - first + 1, 32767));
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

int usage() {
    std::fprintf(stderr, "usage: generate --out FILE [--rows N (default 1000000)] [--seed S] [--no-indexes]\n");
    return 2;
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0)
        throw vela::Error("failed: " + command);
}

} // namespace

int main(int argc, char** argv) {
    std::int64_t rows = 1000000;
    std::uint64_t seed = 8;
    std::string out;
    bool indexes = true;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--rows" && i + 1 < argc)
            rows = std::atoll(argv[++i]);
        else if (a == "--out" && i + 1 < argc)
            out = argv[++i];
        else if (a == "--seed" && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--no-indexes")
            indexes = false;
        else
            return usage();
    }
    if (out.empty() || rows < 1)
        return usage();
    out = fs::absolute(out).string();

    try {
        auto started = std::chrono::steady_clock::now();
        // The schema, through isql as the tests create it; the rows through the database layer.
        fs::remove(out);
        std::string script = out + ".schema.sql";
        {
            std::ofstream sql(script, std::ios::binary | std::ios::trunc);
            std::ifstream schema(VELA_SOURCE_DIR "/tests/sql/backoffice_schema.sql", std::ios::binary);
            if (!sql || !schema)
                throw vela::Error("cannot write " + script + " or read the back-office schema");
            sql << "CREATE DATABASE '" << out
                << "' USER 'SYSDBA' PASSWORD 'quillfern' PAGE_SIZE 8192 DEFAULT CHARACTER SET NONE;\n"
                << schema.rdbuf() << "\n";
        }
        run(std::string(VELA_ISQL) + " -q -b -i '" + script + "' > /dev/null");
        fs::remove(script);
        // The back office is only read by the benchmark: no need to wait for the disk while filling it.
        run(std::string(VELA_GFIX) + " -write async '" + out + "' -user SYSDBA -password quillfern");

        Rng rng(seed);
        Pools pools;
        Text text(rng, pools);
        Clock clock;
        Context ctx{rng, text, clock, pools, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        plan(ctx, rows);

        vela::Connection db("backoffice", {"Database=" + out, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
        vela::Transaction tx(db, vela::Transaction::Mode::ReadCommitted);
        db.setDefaultTransaction(&tx);
        db.open();
        tx.start();
        fillAll(db, ctx);
        tx.commit();
        if (indexes) {
            // The back office references orders and quotas from their items; a real installation
            // has these indexes (its foreign keys), which the test schema leaves out so tests can
            // insert dangling rows. Without them every quota's product query reads the whole table.
            vela::Command ddl(db, "ddl");
            tx.start();
            ddl.execute("create index bench_produtopedido_pedido on produtopedido (tidpedido)");
            ddl.execute("create index bench_produtocota_cota on produtocotanegociacao (tidcotaneg)");
            tx.commit();
        }
        db.close();

        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("generated %lld rows in %.1f s into %s\n", static_cast<long long>(total(ctx)), seconds,
                    out.c_str());
        std::printf("  estado %lld, usuario %lld, clasfiscal %lld, produto %lld, status %lld, empresa %lld,\n"
                    "  condpagamento %lld, tabelapreco %lld, transportadora %lld, config %lld, area %lld,\n"
                    "  contato %lld, gpvendedor %lld, pedido %lld, produtopedido %lld, cotanegociacao %lld,\n"
                    "  produtocotanegociacao %lld, agendavendedor %lld, cvf %lld%s\n",
                    (long long)ctx.estados, (long long)ctx.usuarios, (long long)ctx.clasfiscal, (long long)ctx.produtos,
                    (long long)ctx.status, (long long)ctx.empresas, (long long)ctx.condpag, (long long)ctx.tabelapreco,
                    (long long)ctx.transportadoras, (long long)ctx.configs, (long long)ctx.areas,
                    (long long)ctx.contatos, (long long)ctx.gpvendedor, (long long)ctx.pedidos, (long long)ctx.itens,
                    (long long)ctx.cotas, (long long)ctx.produtoscota, (long long)ctx.agenda, (long long)ctx.cvf,
                    indexes ? "" : " (no indexes on tidpedido/tidcotaneg)");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "generate: %s\n", e.what());
        return 1;
    }
    // The embedded engine keeps threads of its own; end it before the process does.
    Firebird::IProvider* provider = vela::fb::master()->getDispatcher();
    try {
        vela::fb::Status st;
        provider->shutdown(&st, 0, fb_shutrsn_app_stopped);
    } catch (...) {
    }
    provider->release();
    return 0;
}
