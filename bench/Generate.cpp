// Fills a back-office database for the benchmark: the source schema of the tests, with rows spread
// over its nineteen tables in the proportions of a real back office (many products, price rows,
// order items and quota products; few states, users and settings), Windows-1252 text with accents,
// NULLs, lengths at the column limits and a share of rows that the synchronization leaves out.
//
//   generate --rows N --out backoffice.fdb [--seed S] [--no-indexes]
//
// The rows go in through one prepared INSERT per table inside one transaction; the file is created
// with isql from the schema script, so it is exactly the layout the tests use.

//
// The values drawn are in GenerateValues.h, the tables' sizes and the INSERT loop in
// GenerateTables.cpp, the rows of each table in GenerateReference.cpp and GenerateDaily.cpp.

#include "bench/GenerateTables.h"
#include "common/Error.h"
#include "db/Connection.h"
#include "db/Statement.h"
#include "db/Transaction.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

using namespace vela::bench::generator;

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
        fillReferenceTables(db, ctx);
        fillDailyTables(db, ctx);
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
    vela::fb::shutdownEngine();
    return 0;
}
