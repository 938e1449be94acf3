// One generated table at a time: the row writer, the sizes of every table and the prepared INSERT
// that a table's rows go through.
#pragma once

#include "bench/GenerateValues.h"
#include "db/Connection.h"
#include "db/Message.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vela::bench::generator {

using vela::Message;

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

    // A timestamp of the last eight years or so, NULL in nullShare of the rows.
    RowWriter& stamp(RowWriter& w, double nullShare = 0.05);
};

using FillRow = std::function<void(RowWriter&, std::int64_t tid, Context&)>;

void fillTable(vela::Connection& db, const std::string& table, const std::vector<std::string>& columns,
               std::int64_t rows, Context& ctx, const FillRow& fill);
std::vector<std::string> split(const std::string& list);

// How many rows each table gets for a total of `rows`.
void plan(Context& c, std::int64_t rows);
std::int64_t total(const Context& c);

// Most rows are active; a share is not, and the copies must skip it.
inline std::int64_t ativo(Rng& r, double inactive = 0.1) {
    return r.chance(inactive) ? 0 : 1;
}

// A nullable value is NULL now and then.
inline bool isNull(Rng& r, double p = 0.07) {
    return r.chance(p);
}

inline RowWriter& Context::stamp(RowWriter& w, double nullShare) {
    if (isNull(rng, nullShare))
        return w.null();
    return w.ts(clock.daysAgo(rng, 0, 3000));
}

inline std::int64_t money(Rng& r, std::int64_t maxReais) {
    return r.range(1, maxReais * 100);
}

// The tables that change little (states, users, products, companies, prices, contacts...), then
// the ones a sales force fills every day (orders, quotas, agenda, test reports): in this order,
// since the random sequence runs through both.
void fillReferenceTables(vela::Connection& db, Context& c);
void fillDailyTables(vela::Connection& db, Context& c);

} // namespace vela::bench::generator
