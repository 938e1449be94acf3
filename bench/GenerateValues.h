// The values the generator draws from: a seeded random sequence, Windows-1252 words and names,
// text built in a reused buffer, and dates counted back from today.
#pragma once

#include "common/Cp1252.h"
#include "db/Firebird.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vela::bench::generator {

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

inline std::vector<std::string> cp(std::initializer_list<const char*> utf8) {
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

} // namespace vela::bench::generator
