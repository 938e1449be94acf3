#include "bench/GenerateTables.h"

#include "common/Error.h"
#include "db/Statement.h"

#include <algorithm>
#include <sstream>

namespace vela::bench::generator {

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
} // namespace vela::bench::generator
