// The commercial, salesperson and test-report copies: payment terms, carriers, settings, areas,
// contacts, the GP table, the agenda and the CVF reports. One back-office database whose rows tell
// a right copy from a wrong one, one unattended run, then the mobile rows column by column and the
// run log block by block; plus the settings date source and, in process, the gauge and the moment
// the CVF rows become durable.

#include "db/Connection.h"
#include "db/ModuloDadosCadastro.h"
#include "db/Statement.h"
#include "db/Transaction.h"
#include "sync/Comerciais.h"
#include "sync/TableCopier.h"
#include "sync/Tables.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>

namespace vela {
namespace {

using test::Row;

// Inactive rows (ativo 0 or 2) sit between the active ones; NULLs show the copy rules; CVF rows are
// inserted out of key order.
const char* const kBackOffice = R"SQL(
insert into condpagamento (tid, nome, parcelas, ativo, data, dataatualizacao, tipo)
  values (1, 'A Vista', null, 1, '2023-01-02 10:11:12', '2023-02-03 04:05:06', 'V');
insert into condpagamento (tid, nome, parcelas, ativo, data, dataatualizacao, tipo)
  values (2, 'Inativa', 2, 0, '2023-01-01 00:00:00', '2023-01-01 00:00:00', 'P');
insert into condpagamento (tid, nome, parcelas, ativo, data, dataatualizacao, tipo)
  values (3, '30/60/90', 3, 1, null, '2023-03-04 00:00:01', 'P');
insert into condpagamento (tid, nome, parcelas, ativo, data, dataatualizacao, tipo)
  values (4, 'Suspensa', 1, 2, null, null, 'S');

insert into transportadora values (1, 'Rapida', 'Rua A, 10', 'Centro', 'Campinas', '13000-000', 'Galpao 2',
  'Carlos', 1, '2022-05-06 07:08:09', '2022-06-07 08:09:10', 'frete@rapida.com', '19 3333-4444', 'Rapida Ltda');
insert into transportadora (tid, nome, ativo) values (2, 'So Nome', 1);
insert into transportadora (tid, nome, ativo) values (3, 'Parada', 0);
insert into transportadora (tid, nome, cidade, ativo, dataatualizacao)
  values (4, 'Lenta', 'Jundiai', 1, '2021-01-01 12:00:00');

insert into config (tid, smtp, portaemail, usuario, senhaemail, autenticemail, emailusuario, emaildestino,
  tituloemail, mensagem, codsoap, loginsoap, senhasoap, codsoapdormer, loginsoapdormer, senhasoapdormer, ipi,
  datasincronizacao, ativo)
  values (1, 'smtp.exemplo.com.br', 587, 'vendas@exemplo.com.br', 'S3nh@ ' || ascii_char(233) || ' ', 'Sim',
  'outro@exemplo.com.br', 'pedidos@exemplo.com.br', 'Pedido', 'Segue o pedido', 'C01', 'loginsoap',
  ' p''q ', 'D02', 'logindormer', 'dormer#1', 'IPI-1', '2001-01-01', 1);
insert into config (tid, ipi, emailusuario, datasincronizacao, ativo)
  values (2, 'IPI-2', 'nao@usar.com', '2001-01-01', 1);
insert into config (tid, usuario, ipi, ativo) values (3, 'inativo', 'IPI-3', 0);

insert into area values (10, 'Zona Norte', 7, 'Visitas quinzenais', 1, '2020-01-02 03:04:05',
  '2020-02-03 04:05:06');
insert into area (tid, area, ativo) values (11, 'Inativa', 0);
insert into area (tid, area, ativo) values (12, 'S' || ascii_char(227) || 'o Paulo', 1);

insert into contato values (1, 999, 'Maria', 'Compras', '11 2222-3333', '11 98888-7777', 'maria@cliente.com',
  '1980-05-06 00:00:00', 1, '2023-08-09 10:11:12', '2022-07-08 09:10:11');
insert into contato (tid, nome, ativo) values (2, 'Inativo', 0);
insert into contato (tid, tidempresa, nome, ativo) values (3, null, 'Sem Datas', 1);

insert into gpvendedor values (5, null, null, 1, null, null, null);
insert into gpvendedor values (6, 1.0, 2.0, 0, null, null, 1);
insert into gpvendedor values (42, 12.5, 0.375, 1, '2019-01-01 01:01:01', '2019-02-02 02:02:02', 7);

insert into agendavendedor values (7, 10, '2024-05-06 14:30:00', '2024-05-01 08:00:00', '2024-05-02 09:00:00',
  1, 'Agendado');
insert into agendavendedor (tid, ativo) values (8, 0);
insert into agendavendedor (tid, ativo) values (9, 1);

insert into cvf values (50, 1, '2024-01-10 00:00:00', '2024-01-11 00:00:00', 78, 'Laboratorio', 'Sim', 'MC-050',
  'Ana', 'Fresamento', 'Outra', 'Vida util', -0.01, 'ze', null, null, 'Igual', 12.34, 'Breve', 1, 'Fresa',
  '2024-01-12 00:00:00', 1.00, 'Sim');
insert into cvf values (20, 1, '2024-01-02 03:04:05', '2024-02-03 04:05:06', 77, 'Teste de campo', 'Sim', 'MC-020',
  'Jose', 'Torneamento', 'Acao', 'Menos tempo', 1234.56, 'ana', '2024-03-04 05:06:07', '2024-04-05 06:07:08',
  'Rateio', 0.05, 'Curta', 3, 'Eixo', '2024-06-07 00:00:00', 9.99, 'Nao');
insert into cvf (tid, ativo, idteste) values (30, 1, 'mc-030');
insert into cvf (tid, ativo, idteste) values (35, 0, 'MC-035');
insert into cvf (tid, ativo, idteste) values (40, 1, 'XMC-040');
insert into cvf (tid, ativo, idteste) values (45, 1, 'MCX045');
insert into cvf (tid, ativo, idteste) values (60, 1, 'MC-060');
)SQL";

// Rows the template holds before the run: every copy must empty its table first.
const char* const kStaleMobileRows[] = {
    "INSERT INTO CONDPAGAMENTO (TID, NOME) VALUES (99, 'Velha')",
    "INSERT INTO TRANSPORTADORA (TID, NOME) VALUES (99, 'Velha')",
    "INSERT INTO CONFIG (TID, IPI) VALUES (99, 'Velha')",
    "INSERT INTO AREA (TID, AREA, ATIVO) VALUES (99, 'Velha', 1)",
    "INSERT INTO CONTATO (TID, NOME) VALUES (99, 'Velha')",
    "INSERT INTO GPVENDEDOR (TID, ATIVO) VALUES (99, 1)",
    "INSERT INTO AGENDAVENDEDOR (TID, ATIVO) VALUES (99, 1)",
    "INSERT INTO CVF (TID, ATIVO, IDTESTE) VALUES (900, 1, 'MC-VELHA')",
};

// Rows put in through the client: quicker than a round of isql.
template <size_t N> void execute(const std::string& database, const char* const (&statements)[N]) {
    Connection c("fixture", {"Database=" + database, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    Transaction t(c, Transaction::Mode::ReadCommitted);
    c.setDefaultTransaction(&t);
    {
        Command command(c, "fixture");
        for (const char* sql : statements)
            command.execute(sql);
    }
    t.commit();
    c.close();
}

const char* const kNullTs = "0001-01-01 00:00:00.0000";

std::string localToday() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &t);
    return buf;
}

// One table's output in the run log: from its header to the empty line after its end line.
std::vector<std::string> block(const std::vector<std::string>& lines, const std::string& header) {
    auto first = std::find(lines.begin(), lines.end(), header);
    if (first == lines.end())
        return {"<no header " + header + ">"};
    auto last = std::find_if(first, lines.end(), [](const std::string& l) { return l.starts_with("Finalizando"); });
    if (last == lines.end())
        return {"<no end line after " + header + ">"};
    return {first, last + std::min<long>(2, lines.end() - last)};
}

// What the one unattended run left behind.
struct RunOutcome {
    std::string mobilePath;
    std::vector<std::string> lines;
    std::string dayBefore, dayAfter; // the local date just before and just after the run

    std::vector<Row> mobile(const std::string& sql) const { return test::query(mobilePath, sql); }
};

void checkOrder(const RunOutcome& run) {
    const std::vector<std::string> headers{
        "***** Tabela Cond. Pagamento *****", "***** Tabela Transportadora *****",
        "***** Tabela Config *****",          "***** Tabela Area *****",
        "***** Tabela Contato *****",         "***** Tabela GPVendedor *****",
        "***** Tabela AgendaVendedor *****",  "***** Tabela CVF *****",
    };
    std::vector<long> at;
    for (const auto& h : headers) {
        auto it = std::find(run.lines.begin(), run.lines.end(), h);
        ASSERT_NE(it, run.lines.end()) << h;
        at.push_back(it - run.lines.begin());
    }
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
    // Nothing of step 1 follows the CVF block.
    for (auto it = run.lines.begin() + at.back() + 1; it != run.lines.end(); ++it)
        EXPECT_FALSE(it->starts_with("***** Tabela")) << *it;
}

void checkCondPagamento(const RunOutcome& run) {
    EXPECT_EQ(block(run.lines, "***** Tabela Cond. Pagamento *****"),
              (std::vector<std::string>{"***** Tabela Cond. Pagamento *****", "Sincronizando Cond. Pagamento: A Vista",
                                        "Sincronizando Cond. Pagamento: 30/60/90", "",
                                        "Finalizando Tabela Cond. Pagamento", ""}));
    EXPECT_EQ(
        run.mobile("select TID, NOME, PARCELAS, ATIVO, DATA, DATAATUALIZACAO, TIPO from CONDPAGAMENTO order by TID"),
        (std::vector<Row>{
            {"1", "A Vista", "0", "1", "2023-01-02 10:11:12.0000", "2023-02-03 04:05:06.0000", "V"},
            {"3", "30/60/90", "3", "1", kNullTs, "2023-03-04 00:00:01.0000", "P"},
        }));
}

void checkTransportadora(const RunOutcome& run) {
    EXPECT_EQ(block(run.lines, "***** Tabela Transportadora *****"),
              (std::vector<std::string>{"***** Tabela Transportadora *****", "Sincronizando Transportadora: Rapida",
                                        "Sincronizando Transportadora: So Nome", "Sincronizando Transportadora: Lenta",
                                        "", "Finalizando Tabela Transportadora", ""}));
    EXPECT_EQ(
        run.mobile("select TID, NOME, ENDERECO, BAIRRO, CIDADE, CEP, COMPLEMENTO, PESSOARESP, ATIVO, DATA, "
                   "DATAATUALIZACAO, EMAIL, TELEFONE, RAZAOSOCIAL from TRANSPORTADORA order by TID"),
        (std::vector<Row>{
            {"1", "Rapida", "Rua A, 10", "Centro", "Campinas", "13000-000", "Galpao 2", "Carlos", "1",
             "2022-05-06 07:08:09.0000", "2022-06-07 08:09:10.0000", "frete@rapida.com", "19 3333-4444", "Rapida Ltda"},
            {"2", "So Nome", "", "", "", "", "", "", "1", kNullTs, kNullTs, "", "", ""},
            {"4", "Lenta", "", "", "Jundiai", "", "", "", "1", kNullTs, "2021-01-01 12:00:00.0000", "", "", ""},
        }));
}

void checkConfig(const RunOutcome& run) {
    EXPECT_EQ(block(run.lines, "***** Tabela Config *****"),
              (std::vector<std::string>{"***** Tabela Config *****", "", "Finalizando Tabela Config", ""}));
    EXPECT_EQ(
        run.mobile("select TID, SMTP, PORTAEMAIL, USUARIO, SENHAEMAIL, AUTENTICEMAIL, EMAILUSUARIO, EMAILDESTINO, "
                   "TITULOEMAIL, MENSAGEM, CODSOAP, LOGINSOAP, SENHASOAP, CODSOAPDORMER, LOGINSOAPDORMER, "
                   "SENHASOAPDORMER, IPI from CONFIG order by TID"),
        (std::vector<Row>{
            {"1", "smtp.exemplo.com.br", "587", "vendas@exemplo.com.br", "S3nh@ \xE9 ", "Sim", "vendas@exemplo.com.br",
             "pedidos@exemplo.com.br", "Pedido", "Segue o pedido", "C01", "loginsoap", " p'q ", "D02", "logindormer",
             "dormer#1", "IPI-1"},
            {"2", "", "0", "", "", "", "", "", "", "", "", "", "", "", "", "", "IPI-2"},
        }));
    // Stamped by the clock, not taken from the source's 2001-01-01.
    for (const Row& r : run.mobile("select DATASINCRONIZACAO from CONFIG")) {
        EXPECT_TRUE(r[0] == run.dayBefore || r[0] == run.dayAfter) << r[0] << " is not " << run.dayBefore;
    }
}

void checkArea(const RunOutcome& run) {
    EXPECT_EQ(block(run.lines, "***** Tabela Area *****"),
              (std::vector<std::string>{"***** Tabela Area *****", "Sincronizando \xC1rea: Zona Norte",
                                        "Sincronizando \xC1rea: S\xE3o Paulo", "", "Finalizando Tabela \xC1rea", ""}));
    EXPECT_EQ(
        run.mobile("select TID, AREA, TIDVENDEDOR, OBSERVACAO, ATIVO, DATA, DATAATUALIZACAO from AREA order by TID"),
        (std::vector<Row>{
            {"10", "Zona Norte", "7", "Visitas quinzenais", "1", "2020-01-02 03:04:05.0000",
             "2020-02-03 04:05:06.0000"},
            {"12", "S\xE3o Paulo", "0", "", "1", kNullTs, kNullTs},
        }));
}

void checkContato(const RunOutcome& run) {
    EXPECT_EQ(block(run.lines, "***** Tabela Contato *****"),
              (std::vector<std::string>{"***** Tabela Contato *****", "Sincronizando Contato: Maria",
                                        "Sincronizando Contato: Sem Datas", "", "Finalizando Tabela Contato", ""}));
    // Company 999 exists nowhere.
    EXPECT_EQ(run.mobile("select TID, TIDEMPRESA, NOME, DEPTO, TELEFONE, CELULAR, EMAIL, DATANASC, ATIVO, "
                         "DATAATUALIZACAO, DATA from CONTATO order by TID"),
              (std::vector<Row>{
                  {"1", "999", "Maria", "Compras", "11 2222-3333", "11 98888-7777", "maria@cliente.com",
                   "1980-05-06 00:00:00.0000", "1", "2023-08-09 10:11:12.0000", "2022-07-08 09:10:11.0000"},
                  {"3", "0", "Sem Datas", "", "", "", "", kNullTs, "1", kNullTs, kNullTs},
              }));
}

void checkGPVendedor(const RunOutcome& run) {
    EXPECT_EQ(block(run.lines, "***** Tabela GPVendedor *****"),
              (std::vector<std::string>{"***** Tabela GPVendedor *****", "Sincronizando GPVendedor: 5",
                                        "Sincronizando GPVendedor: 42", "", "Finalizando Tabela GPVendedor", ""}));
    EXPECT_EQ(run.mobile("select TID, DESCONTO, GP, ATIVO, DATA, DATAATUALIZACAO, PG from GPVENDEDOR order by TID"),
              (std::vector<Row>{
                  {"5", "0", "0", "1", kNullTs, kNullTs, "0"},
                  {"42", "12.5", "0.375", "1", "2019-01-01 01:01:01.0000", "2019-02-02 02:02:02.0000", "7"},
              }));
}

void checkAgendaVendedor(const RunOutcome& run) {
    EXPECT_EQ(
        block(run.lines, "***** Tabela AgendaVendedor *****"),
        (std::vector<std::string>{"***** Tabela AgendaVendedor *****", "Sincronizando Agenda Vendedor : 7",
                                  "Sincronizando Agenda Vendedor : 9", "", "Finalizando Tabela AgendaVendedor", ""}));
    EXPECT_EQ(
        run.mobile("select TID, TIDAREA, DATAREFERENCIA, DATA, DATAATUALIZACAO, ATIVO, STATUS from AGENDAVENDEDOR "
                   "order by TID"),
        (std::vector<Row>{
            {"7", "10", "2024-05-06 14:30:00.0000", "2024-05-01 08:00:00.0000", "2024-05-02 09:00:00.0000", "1",
             "Agendado"},
            {"9", "0", kNullTs, kNullTs, kNullTs, "1", ""},
        }));
}

void checkCVF(const RunOutcome& run) {
    EXPECT_EQ(
        block(run.lines, "***** Tabela CVF *****"),
        (std::vector<std::string>{"***** Tabela CVF *****", "Sincronizando CVF: MC-020", "Sincronizando CVF: MC-050",
                                  "Sincronizando CVF: MC-060", "", "Finalizando Tabela CVF", ""}));
    // The source's own atualizarcvf .. enviada are filled and must not come across.
    EXPECT_EQ(run.mobile("select ATIVO, DATA, DATAATUALIZACAO, TIDCLIENTE, TIPORELATORIO, ATUALIZARCVF, IDTESTE, "
                         "PESSOACONTATO, DESCRICAOOPERACAO, ACAOCOROMANT, BENEFICIOS, ECONOMIAANO, CRIADOPOR, "
                         "DATASUBTESTE, DATAIMPLEMENTACAO, TIPORATEIO, TEMPOPRODUCAO, DESCRICAOCURTA, DISTRIBUICAO, "
                         "COMPONENTE, FINALPROJ, NAOIMPLEMENTADO, ENVIADA from CVF order by TID"),
              (std::vector<Row>{
                  {"1",
                   "2024-01-02 03:04:05.0000",
                   "2024-02-03 04:05:06.0000",
                   "77",
                   "Teste de campo",
                   "NULL",
                   "MC-020",
                   "Jose",
                   "Torneamento",
                   "NULL",
                   "Menos tempo",
                   "1234.56",
                   "NULL",
                   "2024-03-04 05:06:07.0000",
                   "2024-04-05 06:07:08.0000",
                   "NULL",
                   "0.05",
                   "Curta",
                   "3",
                   "Eixo",
                   "NULL",
                   "NULL",
                   "Sim"},
                  {"1",
                   "2024-01-10 00:00:00.0000",
                   "2024-01-11 00:00:00.0000",
                   "78",
                   "Laboratorio",
                   "NULL",
                   "MC-050",
                   "Ana",
                   "Fresamento",
                   "NULL",
                   "Vida util",
                   "-0.01",
                   "NULL",
                   kNullTs,
                   kNullTs,
                   "NULL",
                   "12.34",
                   "Breve",
                   "1",
                   "Fresa",
                   "NULL",
                   "NULL",
                   "Sim"},
                  {"1",    kNullTs, kNullTs, "0",    "",     "NULL", "MC-060", "", "",     "NULL", "",   "0.00",
                   "NULL", kNullTs, kNullTs, "NULL", "0.00", "",     "0",      "", "NULL", "NULL", "Sim"},
              }));
    // The keys are the mobile database's own, given in the order of the source keys.
    std::vector<Row> keys = run.mobile("select TID from CVF order by TID");
    ASSERT_EQ(keys.size(), 3u);
    for (const Row& k : keys)
        EXPECT_TRUE(k[0] != "20" && k[0] != "50" && k[0] != "60" && k[0] != "900") << k[0];
}

// In process, through a host that keeps the gauge: the gauge of a copy, and the CVF rows still
// uncommitted when the copy ends, durable once the mobile connection has closed.
int countRows(Connection& c, const std::string& table) {
    Query q(c, "count", "select count(*) from " + table);
    q.open();
    int n = static_cast<int>(q.row().getInt64(0));
    q.close();
    return n;
}

void checkGaugeAndCvfDurability(const std::string& sourcePath, const std::string& templatePath) {
    test::TempDir dir;
    const std::string mobilePath = dir / "BANCODADOS.gdb";
    std::filesystem::copy_file(templatePath, mobilePath); // with its stale rows
    TDMSistemaCadastro dm({sourcePath, mobilePath});
    dm.FDConnectionBancoMovel.open();
    dm.FDConnectionBancoVela.open();
    dm.FDTransactionBancoMovel.start();
    test::RecordingHost host;

    runTableCopy(findCopy("sincronizaTransportadora").copy, dm, host);
    EXPECT_EQ(host.maximum, 3);
    EXPECT_EQ(host.position, 3);
    EXPECT_EQ(host.events, 3);

    runTableCopy(findCopy("sincronizaCVF").copy, dm, host);
    EXPECT_EQ(host.maximum, 3);
    EXPECT_EQ(host.position, 3);

    Connection other("other", {"Database=" + mobilePath, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    // The CVF copy's DELETE committed the stale report's removal and the carriers copied before it;
    // its own rows wait.
    EXPECT_EQ(countRows(other, "TRANSPORTADORA"), 3);
    EXPECT_EQ(countRows(other, "CVF"), 0);

    dm.FDConnectionBancoMovel.close();
    EXPECT_EQ(countRows(other, "CVF"), 3);
    other.close();
}

TEST(VendasCvf, EightTablesFromOneBackOffice) {
    test::Installation inst;
    inst.startFtp({"--make-folders"});
    inst.createSource(kBackOffice);
    execute(inst.templatePath, kStaleMobileRows);
    RunOutcome run;
    run.mobilePath = inst.mobilePath;
    run.dayBefore = localToday();
    test::RunResult result = inst.run();
    run.dayAfter = localToday();
    ASSERT_FALSE(result.timedOut);
    run.lines = test::logLines(inst.log());
    ASSERT_FALSE(run.lines.empty()) << result.err;

    const std::pair<const char*, void (*)(const RunOutcome&)> checks[] = {
        {"order of the copies", checkOrder},
        {"CONDPAGAMENTO", checkCondPagamento},
        {"TRANSPORTADORA", checkTransportadora},
        {"CONFIG", checkConfig},
        {"AREA", checkArea},
        {"CONTATO", checkContato},
        {"GPVENDEDOR", checkGPVendedor},
        {"AGENDAVENDEDOR", checkAgendaVendedor},
        {"CVF", checkCVF},
    };
    for (const auto& [table, check] : checks) {
        SCOPED_TRACE(table);
        check(run);
    }

    SCOPED_TRACE("in process");
    checkGaugeAndCvfDurability(inst.sourcePath, inst.templatePath);
}

// The settings date: the day of the local date-time, whatever the time of day, around midnight
// and before 1970 (where dropping the time by truncation would give the next day).
TEST(LocalDate, DropsTheTimeOfDay) {
    using namespace std::chrono;
    auto encode = [](int y, unsigned m, unsigned d) { return fb::util()->encodeDate(y, m, d); };
    const local_days newYearsEve{2024y / December / 31};
    EXPECT_EQ(localDate(newYearsEve), encode(2024, 12, 31));
    EXPECT_EQ(localDate(newYearsEve + 23h + 59min + 59s), encode(2024, 12, 31));
    EXPECT_EQ(localDate(newYearsEve + 24h), encode(2025, 1, 1));
    EXPECT_EQ(localDate(local_days{2024y / February / 29} + 12h), encode(2024, 2, 29));
    EXPECT_EQ(localDate(local_days{1969y / December / 31} + 23h + 59min), encode(1969, 12, 31));
    EXPECT_EQ(localDate(local_days{1899y / December / 30} + 1s), encode(1899, 12, 30));
}

} // namespace
} // namespace vela
