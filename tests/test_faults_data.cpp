// Bad input from the back office and from maquinas.txt, and the promise that the back office is
// only ever read: the real binary, end to end, on embedded databases.
#include "common/Error.h"
#include "db/Connection.h"
#include "db/ModuloDadosCadastro.h"
#include "db/Statement.h"
#include "db/Transaction.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

using namespace vela::test;
namespace fs = std::filesystem;

namespace {

// One row per source table, NULL in every column that allows it; only what the table's copy
// filters on (and what the back office requires) has a value.
const char* const kNullRows = R"(
insert into estado (tid, ativo) values (1, 1);
insert into usuario (tid, ativo, login, senha) values (1, 1, 'l', 's');
insert into clasfiscal (tid, descricao, ativo) values (1, 'd', 1);
insert into produto (tid, ativo, estoqueatual, pv) values (1, 1, 0, 1);
insert into status (tid, status, ativo) values (1, 's', 1);
insert into empresa (tid, ativo, razaosocial) values (1, 1, 'r');
insert into condpagamento (tid, nome, ativo) values (1, 'n', 1);
insert into tabelapreco (tid, tidproduto, ativo, datareferencia) values (1, 1, 1, current_timestamp);
insert into transportadora (tid, nome, ativo) values (1, 'n', 1);
insert into config (tid, ipi, ativo) values (1, 'i', 1);
insert into area (tid, ativo) values (1, 1);
insert into contato (tid, ativo) values (1, 1);
insert into gpvendedor (tid, ativo) values (1, 1);
insert into pedido (tid, ativo, respcancel) values (1, 1, 0);
insert into produtopedido (tid, ativo, tidpedido) values (1, 1, 1);
insert into cotanegociacao (tid, ativo, ncotdist, datareferencia) values (1, 1, 'CM-1', current_timestamp);
insert into produtocotanegociacao (tid, ativo, tidcotaneg) values (1, 1, 1);
insert into agendavendedor (tid, ativo) values (1, 1);
insert into cvf (tid, ativo, idteste) values (1, 1, 'MC-1');
)";

std::vector<std::string> userTables(vela::Connection& c) {
    vela::Query q(c, "tables",
                  "select trim(rdb$relation_name) from rdb$relations where rdb$system_flag = 0 and "
                  "rdb$view_blr is null order by 1");
    std::vector<std::string> names;
    for (q.open(); !q.eof(); q.next())
        names.emplace_back(q.row().getBytes(0));
    return names;
}

// Every row of every table, as the bytes the client receives, in key order.
std::map<std::string, std::vector<std::string>> everyRow(const std::string& database) {
    vela::Connection c("dump", {"Database=" + database, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    std::map<std::string, std::vector<std::string>> all;
    for (const auto& t : userTables(c)) {
        vela::Query q(c, t, "select * from " + t + " order by 1");
        auto& rows = all[t];
        for (q.open(); !q.eof(); q.next()) {
            vela::fb::Status st;
            unsigned length = q.row().metadata()->getMessageLength(&st);
            rows.emplace_back(reinterpret_cast<const char*>(q.row().data()), length);
        }
    }
    return all;
}

// From here on the back office refuses to start any transaction that could write: a run that
// started one would fail at once, not only one that changed a row.
void refuseWriteTransactions(const std::string& database) {
    vela::Connection c("arm", {"Database=" + database, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    vela::Transaction t(c, vela::Transaction::Mode::ReadCommitted);
    c.setDefaultTransaction(&t);
    vela::Command cmd(c, "ddl");
    cmd.execute("create exception e_somente_leitura 'a transaction that can write was started on the back office'");
    t.commitRetaining();
    cmd.execute("create trigger somente_leitura on transaction start as begin "
                "if (exists(select 1 from mon$transactions where mon$transaction_id = current_transaction and "
                "mon$read_only = 0)) then exception e_somente_leitura; end");
    t.commit();
    c.close();
}

} // namespace

TEST(BadInput, ANullInEveryColumnBecomesItsRulesValueAndTheBackOfficeIsOnlyRead) {
    Installation in;
    in.createSource(kNullRows);
    refuseWriteTransactions(in.sourcePath);
    {
        // The guard itself works: a transaction that can write is refused.
        vela::Connection c("probe",
                           {"Database=" + in.sourcePath, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
        vela::Transaction t(c, vela::Transaction::Mode::ReadCommitted);
        EXPECT_THROW(t.start(), vela::Error);
    }
    auto before = everyRow(in.sourcePath);
    ASSERT_EQ(before.size(), 19u);

    // Both steps: the upload reads the company through the source connection as well.
    in.startFtp();
    RunResult r = in.run();
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.exitCode, 0) << r.err << in.log();
    EXPECT_TRUE(contains(in.log(), "\r\nExporta\xe7\xe3o Conclu\xed"
                                   "da.\r\n"));
    EXPECT_EQ(everyRow(in.sourcePath), before);

    // The company query of the upload, and any further source query, run read-only as well.
    {
        vela::TDMSistemaCadastro dm({in.sourcePath, in.mobilePath});
        dm.FDQueryEmpresa.open();
        vela::Query& writable = dm.query("FDQueryTransacoes", dm.FDConnectionBancoVela,
                                         "select count(*) from mon$transactions where mon$attachment_id = "
                                         "current_connection and mon$read_only = 0");
        writable.open();
        EXPECT_EQ(writable.row().getInt64(0), 0);
        dm.release();
    }

    // Each mobile column holds its rule's value for NULL, but for the keys and filters given above,
    // the values the copies make themselves, and the columns no field copy names (inserted NULL).
    const std::map<std::string, std::string> given = {
        {"USUARIO.LOGIN", "l"},
        {"USUARIO.SENHA", "s"},
        {"CLASFISCAL.DESCRICAO", "d"},
        {"PRODUTO.PV", "1.00"},
        {"PRODUTO.DATA", "NULL"},
        {"STATUS.STATUS", "s"},
        {"EMPRESA.RAZAOSOCIAL", "r"},
        {"CONDPAGAMENTO.NOME", "n"},
        {"TABELAPRECO.TIDPRODUTO", "1"},
        {"TABELAPRECO.DATAREFERENCIA", "*"},
        {"TRANSPORTADORA.NOME", "n"},
        {"CONFIG.IPI", "i"},
        {"CONFIG.DATASINCRONIZACAO", "*"},
        {"PRODUTOPEDIDO.TIDPEDIDO", "1"},
        {"COTANEGOCIACAO.NCOTDIST", "CM-1"},
        {"COTANEGOCIACAO.DATAREFERENCIA", "*"},
        {"COTANEGOCIACAO.MOTIVOCANCELAMENTO", "NULL"},
        {"COTANEGOCIACAO.ENVIADA", "EA"},
        {"PRODUTOCOTANEGOCIACAO.TIDCOTANEG", "1"},
        {"CVF.IDTESTE", "MC-1"},
        {"CVF.ENVIADA", "Sim"},
        {"CVF.ATUALIZARCVF", "NULL"},
        {"CVF.ACAOCOROMANT", "NULL"},
        {"CVF.CRIADOPOR", "NULL"},
        {"CVF.TIPORATEIO", "NULL"},
        {"CVF.FINALPROJ", "NULL"},
        {"CVF.NAOIMPLEMENTADO", "NULL"},
    };
    std::map<std::string, std::vector<Row>> columnsOf;
    for (Row& c :
         query(in.mobilePath, "select trim(r.rdb$relation_name), trim(rf.rdb$field_name), f.rdb$field_type, "
                              "f.rdb$field_scale, coalesce(f.rdb$character_length, f.rdb$field_length) "
                              "from rdb$relations r join rdb$relation_fields rf on rf.rdb$relation_name = "
                              "r.rdb$relation_name join rdb$fields f on f.rdb$field_name = rf.rdb$field_source "
                              "where r.rdb$system_flag = 0 order by 1, rf.rdb$field_position"))
        columnsOf[c[0]].push_back(Row(c.begin() + 1, c.end()));
    EXPECT_EQ(columnsOf.size(), 19u);
    for (const auto& [t, columns] : columnsOf) {
        auto rows = query(in.mobilePath, "select * from " + t);
        ASSERT_EQ(rows.size(), 1u) << t;
        ASSERT_EQ(rows[0].size(), columns.size()) << t;
        for (size_t i = 0; i < columns.size(); ++i) {
            const std::string& name = columns[i][0];
            const int type = std::stoi(columns[i][1]);
            std::string expected;
            if (auto it = given.find(t + "." + name); it != given.end())
                expected = it->second;
            else if (name == "TID" || name == "ATIVO")
                expected = "1";
            else if (type == 7 || type == 8 || type == 10 || type == 27)
                expected = "0"; // smallint, integer, float, double
            else if (type == 16)
                expected = columns[i][2] == "0" ? "0" : "0.00";
            else if (type == 12)
                expected = "1899-12-30";
            else if (type == 35)
                expected = "0001-01-01 00:00:00.0000";
            else if (type == 37)
                expected = "";
            else if (type == 14)
                expected = std::string(std::stoul(columns[i][3]), ' ');
            const std::string& actual = rows[0][i];
            if (expected == "*")
                EXPECT_TRUE(actual != "NULL" && actual.rfind("0001-01-01", 0) != 0) << t << "." << name;
            else
                EXPECT_EQ(actual, expected) << t << "." << name;
        }
    }
}

TEST(BadInput, StringsAtTheirLimitsAndASmallintOutOfRange) {
    Installation in;
    std::string high;
    for (int b = 0x80; b <= 0xFF; ++b)
        high.push_back(static_cast<char>(b));
    // The source columns are widened so that values one byte over the mobile size and a smallint
    // out of range can exist at all.
    in.createSource("alter table estado alter column uf type varchar(3) character set win1252;\n"
                    "alter table estado alter column descricao type varchar(151) character set win1252;\n"
                    "alter table condpagamento alter column parcelas type integer;\n"
                    "commit;\n"
                    "insert into estado (tid, uf, descricao, ativo) values (1, 'AB', '" +
                    std::string(150, 'x') +
                    "', 1);\n"
                    "insert into estado (tid, uf, descricao, ativo) values (2, 'ABC', '" +
                    std::string(150, 'y') +
                    "Z', 1);\n"
                    "insert into estado (tid, uf, descricao, ativo) values (3, '\x81\xff', '" +
                    high +
                    "', 1);\n"
                    "insert into estado (tid, uf, descricao, ativo) values "
                    "(4, ascii_char(0) || 'Z', 'AB' || ascii_char(0) || 'CD', 1);\n"
                    "insert into condpagamento (tid, nome, parcelas, ativo) values (1, 'ok', 32767, 1);\n"
                    "insert into condpagamento (tid, nome, parcelas, ativo) values (3, 'after', 1, 1);\n");
    in.startFtp({"--make-folders"});
    RunResult r = in.run();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;

    // Exactly the size passes whole, one byte over is cut without a word, every high byte passes
    // as it is, and a zero byte ends the string. The log shows the source's value.
    EXPECT_EQ(query(in.mobilePath, "select tid, uf, descricao from estado order by tid"),
              (std::vector<Row>{{"1", "AB", std::string(150, 'x')},
                                {"2", "AB", std::string(150, 'y')},
                                {"3", "\x81\xff", high},
                                {"4", "", "AB"}}));
    std::string log = in.log();
    EXPECT_TRUE(contains(log, "***** Tabela Estados *****\r\nSincronizando Estado: AB\r\nSincronizando Estado: "
                              "ABC\r\nSincronizando Estado: \x81\xff\r\nSincronizando Estado: \r\n\r\n"))
        << log.substr(0, 600);

    // The smallint out of range ends the run with its message; the database published before stays.
    runSql(in.sourcePath, "insert into condpagamento (tid, nome, parcelas, ativo) values (2, 'over', 40000, 1);");
    r = in.run();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    log = in.log();
    const std::string message =
        "40000 is not a valid value for field 'PARCELAS'. The allowed range is -32768 to 32767\r\n\r\n";
    ASSERT_GE(log.size(), message.size());
    EXPECT_EQ(log.substr(log.size() - message.size()), message);
    EXPECT_EQ(query(in.mobilePath, "select tid, parcelas from condpagamento order by tid"),
              (std::vector<Row>{{"1", "32767"}, {"3", "1"}}));
}

TEST(BadInput, AMaquinasTxtOfAnyShapeFailsClearlyOrRunsButNeverCrashesOrHangs) {
    Installation in;
    in.createSource("insert into estado (tid, uf, ativo) values (1, 'SP', 1);");
    writeFile(in.dir / "maquinas.txt", "present");
    std::mt19937 random(20240611);
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.push_back(static_cast<char>(random() & 0xFF));
    struct Case {
        const char* what;
        std::string content;
        std::string message; // on standard error
        bool opened;         // whether the run got as far as opening the source
    };
    const std::string tooLong = "A primeira linha de \"" + in.mobileFolder + "/maquinas.txt\" passa de 4096 bytes";
    const std::string notOpened = "I/O error during \"open\" operation for file \"";
    const Case cases[] = {
        // Read once from the start, it would take hours: refused after its first 4 KiB.
        {"a first line of 50 MB", std::string(50 << 20, 'a') + "\r\n" + in.dir.path(), tooLong, false},
        {"a first line one byte too long", std::string(4097, 'a') + "\n", tooLong, false},
        {"binary garbage", garbage, notOpened, true},
        {"garbage without any line end", std::string(8192, '\x01') + std::string("\xff\xfe\0\0", 4), tooLong, false},
        {"a first line of 4096 bytes", std::string(4096, 'a') + "\n", notOpened + std::string(4096, 'a'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(in.mobileFolder + "/maquinas.txt", c.content);
        RunResult r = in.run({"EXECUTAR"}, std::chrono::seconds(20));
        EXPECT_FALSE(r.timedOut);
        ASSERT_NE(r.exitCode, -1) << "ended by a signal";
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(contains(r.err, c.message)) << r.err.substr(0, 300);
        // The template copy opens the source on the path it was given, before the run begins.
        EXPECT_EQ(contains(in.log(), "Banco Vazio pronto"), c.opened);
        EXPECT_FALSE(contains(in.log(), "INICIO SINCRONIZA"));
    }
}
