// Open orders, order items and negotiation quotas: one back office holding every case, copied by
// the real program end to end; then, in one process, the same copies run twice and once more on
// an emptied back office.

#include "db/Connection.h"
#include "db/ModuloDadosCadastro.h"
#include "db/Statement.h"
#include "db/Transaction.h"
#include "sync/CopyHost.h"
#include "sync/TableCopier.h"
#include "sync/Tables.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vela::test {
namespace {

// A reference date n days before the database's current timestamp, shifted by some minutes: the
// boundaries are tested one minute either side, since the run itself happens a moment later.
std::string daysAgo(int days, int minutes = 0) {
    return "dateadd(minute, " + std::to_string(minutes) + ", dateadd(day, -" + std::to_string(days) +
           ", current_timestamp))";
}

std::string pedido(int tid, const std::string& numero, int ativo, const std::string& respcancel) {
    return "insert into pedido (tid, tidcliente, npeddist, datareferencia, data, ativo, dataatualizacao, "
           "respcancel) values (" +
           std::to_string(tid) + ", " + std::to_string(500 + tid) + ", '" + numero +
           "', '2024-03-01 08:30:00', '2024-03-02 09:00:00', " + std::to_string(ativo) + ", NULL, " + respcancel +
           ");\n";
}

std::string item(int tid, int pedidoTid, int ativo, const std::string& nf, const std::string& fonte) {
    return "insert into produtopedido (tid, tidpedido, tidproduto, codigointerno, codprodcliente, pp, valortotal, "
           "quantidade, dataentrega, ativo, data, dataatualizacao, npedcli, item, nf, fonte) values (" +
           std::to_string(tid) + ", " + std::to_string(pedidoTid) + ", " + std::to_string(9000 + tid) + ", 'IT-" +
           std::to_string(tid) + "', 'CLI-" + std::to_string(tid) + "', 12.34, 123.40, 10.00, '2024-04-05', " +
           std::to_string(ativo) + ", '2024-03-02 09:00:00', '2024-03-03 10:00:00', 'NPC-" + std::to_string(tid) +
           "', " + std::to_string(tid % 100) + ", " + nf + ", " + fonte + ");\n";
}

std::string cota(int tid, const std::string& numero, const std::string& datareferencia, const std::string& situacao,
                 const std::string& respcancel, int ativo = 1) {
    return "insert into cotanegociacao (tid, tidcondpagamento, tidcliente, motivocancelamento, datareferencia, "
           "ncotdist, respcancel, observacao, dataatualizacao, data, ativo, pppacote, enviada, situacao) values (" +
           std::to_string(tid) + ", 7, " + std::to_string(800 + tid) + ", 'antigo', " + datareferencia + ", " + numero +
           ", " + respcancel + ", 'obs " + std::to_string(tid) + "', NULL, '2024-05-06 07:08:09', " +
           std::to_string(ativo) + ", 1234.56, 'XX', " + situacao + ");\n";
}

std::string produtoCota(int tid, int cotaTid, const std::string& codigo, int ativo, const std::string& quantcotada,
                        const std::string& desconto = "2.5") {
    return "insert into produtocotanegociacao (tid, tidcotaneg, tidproduto, codigointerno, codprodcliente, "
           "desconto, quantidade, quantcotada, pp, prazoentrega, data, dataatualizacao, ativo, npedcliente, totpp, "
           "item, feedconco, feedprazo, feedpreco, feedritmo, feedprecovalor, feedperfo) values (" +
           std::to_string(tid) + ", " + std::to_string(cotaTid) + ", " + std::to_string(7000 + tid) + ", '" + codigo +
           "', 'CP-" + codigo + "', " + desconto + ", 5.00, " + quantcotada +
           ", 10.25, '10 dias', '2024-05-06 07:08:09', " + "NULL, " + std::to_string(ativo) +
           ", 'NPC', 76.88, 3, 'fc', 'fp', 'fpr', 'fr', 3.33, 'fpe');\n";
}

// Orders 1 and 7 are open; the others fail one condition each. Items 11, 12, 51, 61, 72 and 91
// qualify on their own conditions, whatever their order.
std::string orderRows() {
    std::string sql;
    sql += pedido(1, "P-001", 1, "0"); // several qualifying items, one invoiced
    sql += pedido(2, "P-002", 1, "0"); // every item invoiced
    sql += pedido(3, "P-003", 1, "0"); // every item inactive
    sql += pedido(4, "P-004", 1, "0"); // every item with FONTE
    sql += pedido(5, "P-005", 1, "1"); // cancelled
    sql += pedido(6, "P-006", 0, "0"); // inactive
    sql += pedido(7, "P-007", 1, "0"); // one invoiced item, one qualifying
    sql += pedido(8, "P-008", 1, "0"); // no items at all
    sql += pedido(9, "P-009", 1, "NULL");
    sql += item(11, 1, 1, "NULL", "NULL");
    sql += item(12, 1, 1, "NULL", "NULL");
    sql += item(13, 1, 1, "'NF-1'", "NULL");
    sql += item(21, 2, 1, "'NF-2'", "NULL");
    sql += item(22, 2, 1, "'NF-3'", "NULL");
    sql += item(31, 3, 0, "NULL", "NULL");
    sql += item(41, 4, 1, "NULL", "'F1'");
    sql += item(51, 5, 1, "NULL", "NULL");
    sql += item(61, 6, 1, "NULL", "NULL");
    sql += item(71, 7, 1, "'NF-7'", "NULL");
    sql += item(72, 7, 1, "NULL", "NULL");
    sql += item(91, 9, 1, "NULL", "NULL");
    // NULL values follow the copy rules.
    sql += "update produtopedido set dataentrega = NULL, quantidade = 0.01, codprodcliente = NULL where tid = 12;\n";
    return sql;
}

// Regular quotas Q-A1, Q-A2, Q-C, Q-D, Q-E and CM quotas CM-002, CM-003, cm-low are copied (in
// this order); every Q-X and CM-X fails one condition.
std::string quotaRows() {
    std::string sql;
    sql += cota(101, "'Q-E'", daysAgo(1), "'A'", "NULL");
    sql += cota(102, "'Q-D'", daysAgo(2), "'A'", "'X'");
    sql += cota(103, "'Q-C'", daysAgo(3), "'A'", "'2'");
    sql += cota(104, "'Q-A2'", daysAgo(90, 1), "'A'", "'1'"); // no products
    sql += cota(105, "'Q-A1'", daysAgo(89), "'A'", "'0'");
    sql += cota(106, "'Q-X1'", daysAgo(90, -1), "'A'", "'0'");
    sql += cota(107, "'Q-X2'", daysAgo(91), "'A'", "'0'");
    sql += cota(108, "'Q-X3'", daysAgo(5), "'F'", "'0'");
    sql += cota(109, "'Q-X4'", daysAgo(5), "'A'", "'0'", 0);
    sql += cota(110, "NULL", daysAgo(5), "'A'", "'0'");
    sql += cota(111, "'Q-X5'", "NULL", "'A'", "'0'");
    sql += cota(112, "'CM-X6'", "NULL", "'A'", "'0'");
    sql += cota(201, "'cm-low'", daysAgo(5), "'A'", "'0'"); // would qualify as regular too
    sql += cota(202, "'CM-002'", daysAgo(546), "'F'", "'2'");
    sql += cota(203, "'CM-003'", daysAgo(547, 1), "NULL", "NULL");
    sql += cota(204, "'CM-X4'", daysAgo(547, -1), "'A'", "'0'");
    sql += cota(205, "'CM-X5'", daysAgo(548), "'A'", "'0'");
    sql += cota(206, "'CM-X6B'", daysAgo(5), "'A'", "'0'", 0);
    sql += produtoCota(1001, 105, "A1-1", 1, "7.50");
    sql += produtoCota(1002, 105, "A1-2", 1, "1.00", "NULL");
    sql += produtoCota(1003, 105, "A1-3", 0, "9.00");
    sql += produtoCota(1004, 103, "C-1", 1, "2.00");
    sql += produtoCota(1005, 106, "X1-1", 1, "2.00");
    sql += produtoCota(1006, 202, "CM2-1", 1, "3.00");
    sql += produtoCota(1007, 201, "low-1", 1, "4.00");
    return sql;
}

const std::string cotaNegociacao = "***** Tabela CotaNegocia\xe7\xe3o *****";
const std::string produtoHeader = "***** Tabela ProdutoCotaNegocia\xe7\xe3o *****";
const std::string produtoEnd = "Finalizando Tabela ProdutocotaNegocia\xe7\xe3o";
const std::string cotacao = "Sincronizando Cota\xe7\xe3o: ";

std::vector<std::string> quotaLog(const std::vector<std::pair<std::string, std::vector<std::string>>>& quotas) {
    std::vector<std::string> lines{cotaNegociacao};
    for (const auto& [numero, itens] : quotas) {
        lines.push_back(cotacao + numero);
        lines.push_back(produtoHeader);
        for (const auto& codigo : itens)
            lines.push_back("Sincronizando Item: " + codigo);
        lines.insert(lines.end(), {"", produtoEnd, ""});
    }
    lines.insert(lines.end(), {"", "Finalizando Tabela Cota\xe7\xe3o", ""});
    return lines;
}

// The run log of the three copies for the fixture above.
std::vector<std::string> expectedLog() {
    std::vector<std::string> lines{
        "***** Tabela Pedido *****",           "Sincronizando Pedido: P-001",
        "Sincronizando Pedido: P-007",         "",
        "Finalizando Tabela Pedido",           "",
        "***** Tabela Produto Pedido *****",   "Sincronizando Produto Pedido: IT-11",
        "Sincronizando Produto Pedido: IT-12", "Sincronizando Produto Pedido: IT-51",
        "Sincronizando Produto Pedido: IT-61", "Sincronizando Produto Pedido: IT-72",
        "Sincronizando Produto Pedido: IT-91", "",
        "Finalizando Tabela Produto Pedido",   "",
    };
    auto quotas = quotaLog({{"Q-A1", {"A1-1", "A1-2"}},
                            {"Q-A2", {}},
                            {"Q-C", {"C-1"}},
                            {"Q-D", {}},
                            {"Q-E", {}},
                            {"CM-002", {"CM2-1"}},
                            {"CM-003", {}},
                            {"cm-low", {"low-1"}}});
    lines.insert(lines.end(), quotas.begin(), quotas.end());
    return lines;
}

std::vector<std::string> section(const std::vector<std::string>& lines, const std::string& first,
                                 const std::string& last) {
    auto from = std::find(lines.begin(), lines.end(), first);
    auto to = std::find(from, lines.end(), last);
    if (from == lines.end() || to == lines.end() || to + 1 == lines.end())
        return {};
    return {from, to + 2};
}

// The quotas and their products without the mobile keys, which only have to match each other.
struct QuotaTables {
    std::vector<Row> pedidos, itens, cotas, produtos, orfaos;
    bool operator==(const QuotaTables&) const = default;
};

QuotaTables mobileTables(const std::string& mobile) {
    QuotaTables t;
    t.pedidos = query(mobile, "select * from PEDIDO order by TID");
    t.itens = query(mobile, "select * from PRODUTOPEDIDO order by TID");
    t.cotas = query(mobile, "select TIDCONDPAGAMENTO, TIDCLIENTE, MOTIVOCANCELAMENTO, DATAREFERENCIA, NCOTDIST, "
                            "RESPCANCEL, OBSERVACAO, DATAATUALIZACAO, DATA, ATIVO, PPPACOTE, ENVIADA from "
                            "COTANEGOCIACAO order by TID");
    t.produtos = query(mobile, "select c.NCOTDIST, p.TIDPRODUTO, p.CODIGOINTERNO, p.CODPRODCLIENTE, p.DESCONTO, "
                               "p.QUANTIDADE, p.QUANTCOTADA, p.PP, p.PRAZOENTREGA, p.DATA, p.DATAATUALIZACAO, "
                               "p.ATIVO, p.NPEDCLIENTE, p.TOTPP, p.ITEM, p.FEEDCONCO, p.FEEDPRAZO, p.FEEDPRECO, "
                               "p.FEEDRITMO, p.FEEDPRECOVALOR, p.FEEDPERFO from PRODUTOCOTANEGOCIACAO p "
                               "join COTANEGOCIACAO c on c.TID = p.TIDCOTANEG order by p.TID");
    t.orfaos = query(mobile, "select p.TIDCOTANEG, p.CODIGOINTERNO from PRODUTOCOTANEGOCIACAO p where not exists "
                             "(select 1 from COTANEGOCIACAO c where c.TID = p.TIDCOTANEG)");
    return t;
}

TEST(PedidosCotacoes, UnattendedRunCopiesOpenOrdersAndQuotas) {
    Installation inst;
    inst.startFtp({"--make-folders"});
    inst.createSource(orderRows() + quotaRows());
    RunResult r = inst.run();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = logLines(inst.log());

    EXPECT_EQ(section(lines, "***** Tabela Pedido *****", "Finalizando Tabela Cota\xe7\xe3o"), expectedLog());

    const std::string& m = inst.mobilePath;
    {
        SCOPED_TRACE("orders: each open order once, with its source key");
        EXPECT_EQ(query(m, "select * from PEDIDO order by TID"),
                  (std::vector<Row>{
                      {"1", "501", "P-001", "2024-03-01 08:30:00.0000", "2024-03-02 09:00:00.0000", "1",
                       "0001-01-01 00:00:00.0000"},
                      {"7", "507", "P-007", "2024-03-01 08:30:00.0000", "2024-03-02 09:00:00.0000", "1",
                       "0001-01-01 00:00:00.0000"},
                  }));
    }
    {
        SCOPED_TRACE("items: by their own conditions, also those of cancelled or inactive orders");
        auto itens = query(m, "select * from PRODUTOPEDIDO order by TID");
        std::vector<std::string> keys;
        for (const auto& row : itens)
            keys.push_back(row[0] + "/" + row[1]);
        EXPECT_EQ(keys, (std::vector<std::string>{"11/1", "12/1", "51/5", "61/6", "72/7", "91/9"}));
        ASSERT_EQ(itens.size(), 6u);
        EXPECT_EQ(itens[0], (Row{"11", "1", "9011", "IT-11", "CLI-11", "12.34", "123.40", "10.00", "2024-04-05", "1",
                                 "2024-03-02 09:00:00.0000", "2024-03-03 10:00:00.0000", "NPC-11", "11"}));
        EXPECT_EQ(itens[1], (Row{"12", "1", "9012", "IT-12", "", "12.34", "123.40", "0.01", "1899-12-30", "1",
                                 "2024-03-02 09:00:00.0000", "2024-03-03 10:00:00.0000", "NPC-12", "12"}));
    }
    {
        SCOPED_TRACE("quotas: keys 1.. (the template's generator is at 0) in copy order, phase markers, "
                     "cancellation reasons");
        EXPECT_EQ(query(m, "select TID, NCOTDIST, ATIVO, ENVIADA, RESPCANCEL, MOTIVOCANCELAMENTO from "
                           "COTANEGOCIACAO order by TID"),
                  (std::vector<Row>{
                      {"1", "Q-A1", "100", "NULL", "0", "Normal"},
                      {"2", "Q-A2", "100", "NULL", "1", "Cancelada"},
                      {"3", "Q-C", "100", "NULL", "2", "Estudo"},
                      {"4", "Q-D", "100", "NULL", "X", "NULL"},
                      {"5", "Q-E", "100", "NULL", " ", "NULL"},
                      {"6", "CM-002", "1", "EA", "2", "Estudo"},
                      {"7", "CM-003", "1", "EA", " ", "NULL"},
                      {"8", "cm-low", "1", "EA", "0", "Normal"},
                  }));
        auto source = query(inst.sourcePath, "select datareferencia from cotanegociacao where tid = 105");
        EXPECT_EQ(query(m, "select TIDCONDPAGAMENTO, TIDCLIENTE, DATAREFERENCIA, OBSERVACAO, DATAATUALIZACAO, DATA, "
                           "PPPACOTE from COTANEGOCIACAO where TID = 1"),
                  (std::vector<Row>{{"7", "905", source.at(0).at(0), "obs 105", "0001-01-01 00:00:00.0000",
                                     "2024-05-06 07:08:09.0000", "1234.56"}}));
    }
    {
        SCOPED_TRACE("quota products: under their quota's new key, QUANTIDADE from quantcotada");
        EXPECT_EQ(query(m, "select TIDCOTANEG, TIDPRODUTO, CODIGOINTERNO, CODPRODCLIENTE, DESCONTO, QUANTIDADE, "
                           "QUANTCOTADA, PP, PRAZOENTREGA, DATA, DATAATUALIZACAO, ATIVO, NPEDCLIENTE, TOTPP, ITEM, "
                           "FEEDCONCO, FEEDPRAZO, FEEDPRECO, FEEDRITMO, FEEDPRECOVALOR, FEEDPERFO from "
                           "PRODUTOCOTANEGOCIACAO order by TID"),
                  (std::vector<Row>{
                      {"1",
                       "8001",
                       "A1-1",
                       "CP-A1-1",
                       "2.5",
                       "7.50",
                       "7.50",
                       "10.25",
                       "10 dias",
                       "2024-05-06 07:08:09.0000",
                       "0001-01-01 00:00:00.0000",
                       "1",
                       "NPC",
                       "76.88",
                       "3",
                       "fc",
                       "fp",
                       "fpr",
                       "fr",
                       "3.33",
                       "fpe"},
                      {"1",
                       "8002",
                       "A1-2",
                       "CP-A1-2",
                       "0",
                       "1.00",
                       "1.00",
                       "10.25",
                       "10 dias",
                       "2024-05-06 07:08:09.0000",
                       "0001-01-01 00:00:00.0000",
                       "1",
                       "NPC",
                       "76.88",
                       "3",
                       "fc",
                       "fp",
                       "fpr",
                       "fr",
                       "3.33",
                       "fpe"},
                      {"3",
                       "8004",
                       "C-1",
                       "CP-C-1",
                       "2.5",
                       "2.00",
                       "2.00",
                       "10.25",
                       "10 dias",
                       "2024-05-06 07:08:09.0000",
                       "0001-01-01 00:00:00.0000",
                       "1",
                       "NPC",
                       "76.88",
                       "3",
                       "fc",
                       "fp",
                       "fpr",
                       "fr",
                       "3.33",
                       "fpe"},
                      {"6",
                       "8006",
                       "CM2-1",
                       "CP-CM2-1",
                       "2.5",
                       "3.00",
                       "3.00",
                       "10.25",
                       "10 dias",
                       "2024-05-06 07:08:09.0000",
                       "0001-01-01 00:00:00.0000",
                       "1",
                       "NPC",
                       "76.88",
                       "3",
                       "fc",
                       "fp",
                       "fpr",
                       "fr",
                       "3.33",
                       "fpe"},
                      {"8",
                       "8007",
                       "low-1",
                       "CP-low-1",
                       "2.5",
                       "4.00",
                       "4.00",
                       "10.25",
                       "10 dias",
                       "2024-05-06 07:08:09.0000",
                       "0001-01-01 00:00:00.0000",
                       "1",
                       "NPC",
                       "76.88",
                       "3",
                       "fc",
                       "fp",
                       "fpr",
                       "fr",
                       "3.33",
                       "fpe"},
                  }));
    }
}

// Deletes the rows of the four source tables, as a back office without open orders or quotas.
void emptyBackOffice(const std::string& database) {
    Connection c("fixture", {"Database=" + database, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    Transaction t(c, Transaction::Mode::ReadCommitted);
    c.setDefaultTransaction(&t);
    Command command(c, "fixture");
    for (const char* table : {"produtopedido", "pedido", "produtocotanegociacao", "cotanegociacao"})
        command.execute(std::string("delete from ") + table);
    t.commit();
    c.close();
}

// The orders and quotas copied in process from a source and a fresh copy of the template.
struct Copies : InProcess {
    explicit Copies(const std::string& rows) {
        createDatabase(source, backofficeSchema(), rows);
        std::filesystem::copy_file(binaryDir() + "/VAZIO.GDB", mobile);
        start();
    }

    RecordingHost copy() {
        RecordingHost host;
        runTableCopy(findCopy("sincronizaPedido").copy, *dm, host);
        runTableCopy(findCopy("sincronizaProdutoPedido").copy, *dm, host);
        runTableCopy(findCopy("sincronizaCotaNegociacao").copy, *dm, host);
        dm->FDTransactionBancoMovel.commitRetaining();
        return host;
    }
};

TEST(PedidosCotacoes, RunsInOneProcess) {
    Copies p(orderRows() + quotaRows());
    // A product line left from an earlier run, of a quota that does not exist: the quota copy
    // must not keep it.
    p.dm->FDQueryDeletar.execute("INSERT INTO PRODUTOCOTANEGOCIACAO (TIDCOTANEG, CODIGOINTERNO, ATIVO) "
                                 "VALUES (999, 'RESTO', 1)");
    p.dm->FDTransactionBancoMovel.commitRetaining();

    RecordingHost first = p.copy();
    QuotaTables afterFirst = mobileTables(p.mobile);
    EXPECT_EQ(query(p.mobile, "select min(TID), max(TID) from COTANEGOCIACAO"), (std::vector<Row>{{"1", "8"}}));

    RecordingHost second = p.copy();
    QuotaTables afterSecond = mobileTables(p.mobile);
    // The generator goes on (G = 8: keys G + 1, G + 2, ...); nothing else differs.
    EXPECT_EQ(query(p.mobile, "select min(TID), max(TID) from COTANEGOCIACAO"), (std::vector<Row>{{"9", "16"}}));

    EXPECT_EQ(first.lines, expectedLog());
    EXPECT_EQ(second.lines, first.lines);
    EXPECT_EQ(second.gauge, first.gauge);
    EXPECT_TRUE(afterSecond == afterFirst);
    EXPECT_EQ(afterFirst.cotas.size(), 8u);
    EXPECT_EQ(afterFirst.produtos.size(), 5u);
    EXPECT_TRUE(afterFirst.orfaos.empty());
    EXPECT_TRUE(afterSecond.orfaos.empty());

    // The orders' gauge counts orders (two, one step each, however many items order 1 has). The
    // regular quotas' count is that of their product lines (inactive ones included); each quota's
    // products then take the gauge over, and the quota loop adds its step after them.
    std::vector<std::string> gauge{"pos 0", "max 2", "step", "step", "pos 0", "max 6"};
    gauge.insert(gauge.end(), 6, "step");
    auto phase = [&gauge](int count, std::vector<int> produtos) {
        gauge.insert(gauge.end(), {"pos 0", "max " + std::to_string(count)});
        for (int n : produtos) {
            gauge.insert(gauge.end(), {"pos 0", "max " + std::to_string(n)});
            gauge.insert(gauge.end(), n + 1, "step");
        }
    };
    phase(4, {2, 0, 1, 0, 0});
    phase(3, {1, 0, 1});
    EXPECT_EQ(first.gauge, gauge);
    // Progress outside the gauge counts each phase's products against the phase's count.
    EXPECT_EQ(first.childRows, (std::vector<std::string>{"1/4", "2/4", "3/4", "1/3", "2/3"}));

    // With nothing left to copy, each copy still writes its header and closing lines, its gauge
    // stays at 0 of 0, and all four tables end up empty.
    emptyBackOffice(p.source);
    RecordingHost empty = p.copy();
    EXPECT_EQ(empty.lines,
              (std::vector<std::string>{"***** Tabela Pedido *****", "", "Finalizando Tabela Pedido", "",
                                        "***** Tabela Produto Pedido *****", "", "Finalizando Tabela Produto Pedido",
                                        "", cotaNegociacao, "", "Finalizando Tabela Cota\xe7\xe3o", ""}));
    EXPECT_EQ(empty.gauge,
              (std::vector<std::string>{"pos 0", "max 0", "pos 0", "max 0", "pos 0", "max 0", "pos 0", "max 0"}));
    EXPECT_EQ(empty.position, 0);
    EXPECT_EQ(query(p.mobile, "select (select count(*) from PEDIDO), (select count(*) from PRODUTOPEDIDO), "
                              "(select count(*) from COTANEGOCIACAO), (select count(*) from PRODUTOCOTANEGOCIACAO) "
                              "from RDB$DATABASE"),
              (std::vector<Row>{{"0", "0", "0", "0"}}));
}

} // namespace
} // namespace vela::test
