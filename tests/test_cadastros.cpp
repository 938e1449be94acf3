// Users, fiscal classes, products, status categories, companies and the price table: one
// back-office database whose rows tell a right copy from a wrong one, one unattended run, then the
// mobile rows column by column and the run log block by block. The gauge is not in the log, so
// the same copies then run once more inside this process, where it can be read.

#include "app/Gauge.h"
#include "app/Settings.h"
#include "app/principal.h"
#include "db/Connection.h"
#include "db/ModuloDadosCadastro.h"
#include "db/Statement.h"
#include "db/Transaction.h"
#include "sync/TableCopier.h"
#include "sync/Tables.h"
#include "tests/support/TestEnv.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using namespace vela::test;

namespace {

// A value that fills its column exactly and starts with a tag of its own, so a swapped column or
// a size cut too short shows.
std::string fill(const std::string& tag, size_t size) {
    return tag + std::string(size - tag.size(), 'x');
}

std::string sqlText(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

const std::string kData = "2023-01-02 03:04:05.1234";
const std::string kAtualizacao = "2024-05-06 07:08:09.5678";
// What a NULL source timestamp becomes in the mobile database.
const std::string kNullTs = "0001-01-01 00:00:00.0000";

// Windows-1252 bytes, as the back office stores them.
const std::string kNomeJose = "Jos\xE9 Ara\xFAjo";
const std::string kSenha = "S3nh@ 'x' \xE7\xE3o  ";
const std::string kIsencao = "Isen\xE7\xE3o";
const std::string kPromocao = "Promo\xE7\xE3o";
const std::string kAcucar = "A\xE7\xFA"
                            "car & Cia";
const std::string kCodInterno11 = "P\xE7-11";

const std::string kLogin1 = fill("LOGIN-", 150);
const std::string kCf1Descricao = fill("CF1-DESCRICAO-", 150);
const std::string kCf1Observacao = fill("CF1-OBSERVACAO-", 500);
const std::string kCodExp10 = fill("CODEXP-", 150);
const std::string kCodInterno10 = fill("CODINTERNO-", 150);
const std::string kDescricao10 = fill("DESCRICAO-", 150);
const std::string kStatus1 = fill("STATUS-", 150);
const std::string kForma15 = fill("FORMA-", 15);
const std::string kDocumento15 = fill("DOCUMENTO-", 150);
const std::string kPedido15 = fill("PEDIDO-", 150);
const std::string kCodCliente15 = fill("CODCLIENTE-", 150);

struct Empresa1 {
    std::string razao = fill("RAZAO-", 150), fantasia = fill("FANTASIA-", 150), endereco = fill("ENDERECO-", 150),
                bairro = fill("BAIRRO-", 150), cidade = fill("CIDADE-", 150), cep = fill("CEP-", 150),
                complemento = fill("COMPLEMENTO-", 150), telefone = fill("TELEFONE-", 150), email = fill("EMAIL-", 150),
                pessoa = fill("PESSOA-", 150), cnpj = fill("CNPJ-", 150), depto = fill("DEPTO-", 50);
};
const Empresa1 kEmpresa1;

std::string fixtureRows() {
    std::string s;
    // Users: one with everything, one with NULL areas, name and dates, one inactive.
    s += "insert into usuario values (1, 1, '" + kData + "', '" + kAtualizacao + "', " + sqlText(kLogin1) + ", " +
         sqlText(kSenha) + ", " + sqlText(kNomeJose) + ", 101, 102, 103, 104, 105, 106, 107, 108, 109, 110);\n";
    s += "insert into usuario (tid, ativo, login, senha) values (2, 1, 'maria', '123');\n";
    s += "insert into usuario (tid, ativo, login, senha, nome) values (3, 0, 'velho', 'x', 'Inativo');\n";

    // Fiscal classes.
    s += "insert into clasfiscal values (1, " + sqlText(kCf1Descricao) + ", 5.5, 1, '" + kData + "', '" + kAtualizacao +
         "', 18.25, " + sqlText(kCf1Observacao) + ", 'AB', 7.125, 12.5);\n";
    s += "insert into clasfiscal (tid, descricao, ativo) values (2, " + sqlText(kIsencao) + ", 1);\n";
    s += "insert into clasfiscal (tid, descricao, ativo) values (3, 'Inativa', 0);\n";

    // Products: two with a sale price, three active without one, one inactive.
    s += "insert into produto values (10, " + sqlText(kCodExp10) + ", " + sqlText(kCodInterno10) +
         ", 1.23, 2.5, 12.34, '" + kAtualizacao + "', 1, " + sqlText(kDescricao10) +
         ", 31, 32, 12.5, 1.5, 'NAC', 'AT', 'G01', 33, 0.75, 4.56, 3, 2.25, 3.33, '2019-09-09 09:09:09');\n";
    s += "insert into produto (tid, codinterno, pv, ativo, estoqueatual) values (11, " + sqlText(kCodInterno11) +
         ", 0.01, 1, -3.75);\n";
    s += "insert into produto (tid, codinterno, pv, ativo, estoqueatual) values (12, 'PV-ZERO', 0, 1, 1);\n";
    s += "insert into produto (tid, codinterno, pv, ativo, estoqueatual) values (13, 'PV-NEG', -1, 1, 1);\n";
    s += "insert into produto (tid, codinterno, pv, ativo, estoqueatual) values (14, 'PV-NULL', null, 1, "
         "1);\n";
    s += "insert into produto (tid, codinterno, pv, ativo, estoqueatual) values (15, 'INATIVO', 10, 0, 1);\n";

    // Status categories.
    s += "insert into status values (1, " + sqlText(kStatus1) + ", 1, '" + kData + "', '" + kAtualizacao + "');\n";
    s += "insert into status (tid, status, ativo) values (2, " + sqlText(kPromocao) + ", 1);\n";
    s += "insert into status (tid, status, ativo) values (3, 'Inativo', 0);\n";

    // Companies: ten active, of which 3, 6 and 9 have no company name; 11 is inactive.
    const Empresa1& e = kEmpresa1;
    s += "insert into empresa values (1, 21, 22, 23, 24, 1, '" + kData + "', '" + kAtualizacao + "', " +
         sqlText(e.razao) + ", " + sqlText(e.fantasia) + ", " + sqlText(e.endereco) + ", " + sqlText(e.bairro) + ", " +
         sqlText(e.cidade) + ", " + sqlText(e.cep) + ", " + sqlText(e.complemento) + ", " + sqlText(e.telefone) + ", " +
         sqlText(e.email) + ", " + sqlText(e.pessoa) + ", " + sqlText(e.cnpj) + ", 'E', " + sqlText(e.depto) +
         ", 2);\n";
    s += "insert into empresa (tid, ativo, razaosocial) values (2, 1, 'Sem Fantasia Ltda');\n";
    s += "insert into empresa (tid, ativo, razaosocial, nomefantasia) values (3, 1, null, "
         "'SEM-RAZAO-NULL');\n";
    s += "insert into empresa (tid, ativo, razaosocial, nomefantasia) values (4, 1, 'Acucar SA', " + sqlText(kAcucar) +
         ");\n";
    for (int tid : {5, 7, 8, 10})
        s += "insert into empresa (tid, ativo, razaosocial, nomefantasia) values (" + std::to_string(tid) +
             ", 1, 'Razao " + std::to_string(tid) + "', 'Fantasia " + std::to_string(tid) + "');\n";
    s += "insert into empresa (tid, ativo, razaosocial, nomefantasia) values (6, 1, '', 'SEM-RAZAO-VAZIA');\n";
    s += "insert into empresa (tid, ativo, razaosocial, nomefantasia) values (9, 1, '   ', "
         "'SEM-RAZAO-BRANCOS');\n";
    s += "insert into empresa (tid, ativo, razaosocial, nomefantasia) values (11, 0, 'Inativa', 'INATIVA');\n";

    // Price table: two with a reference date (one with a negative key and NULLs), one without,
    // one inactive.
    s += "insert into tabelapreco values (15, 41, 42, 1, '" + kData + "', '" + kAtualizacao + "', " +
         sqlText(kForma15) + ", " + sqlText(kDocumento15) + ", 12.5, " + sqlText(kPedido15) +
         ", '2024-03-01 12:00:00', " + sqlText(kCodCliente15) + ");\n";
    s += "insert into tabelapreco (tid, tidproduto, ativo, datareferencia) values (-7, 43, 1, '2024-02-29 "
         "00:00:00');\n";
    s += "insert into tabelapreco (tid, tidproduto, ativo, valor) values (16, 44, 1, 9.99);\n";
    s += "insert into tabelapreco (tid, tidproduto, ativo, datareferencia) values (17, 45, 0, '2024-01-01 "
         "00:00:00');\n";
    return s;
}

// Rows the template holds before the run; every copy must empty its table first.
void addStaleRows(const std::string& database) {
    vela::Connection c("stale", {"Database=" + database, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    vela::Transaction t(c, vela::Transaction::Mode::ReadCommitted);
    c.setDefaultTransaction(&t);
    t.start();
    vela::Command insert(c, "stale");
    for (const char* sql : {"insert into usuario (tid, nome) values (999, 'stale')",
                            "insert into clasfiscal (tid, descricao) values (999, 'stale')",
                            "insert into produto (tid, codinterno) values (999, 'stale')",
                            "insert into status (tid, status) values (999, 'stale')",
                            "insert into empresa (tid, ativo, razaosocial) values (999, 1, 'stale')",
                            "insert into tabelapreco (tid, codcliente) values (999, 'stale')"})
        insert.execute(sql);
    t.commit();
    c.close();
}

// The lines of the block that starts at the header: the header, the row lines, an empty line, the
// end line and an empty line. Returns the header's index, or fails the test.
size_t expectBlock(const std::vector<std::string>& log, const std::string& header, const std::vector<std::string>& rows,
                   const std::string& endLine) {
    auto it = std::find(log.begin(), log.end(), header);
    EXPECT_NE(it, log.end()) << "no header " << header;
    if (it == log.end())
        return 0;
    EXPECT_EQ(std::count(log.begin(), log.end(), header), 1) << header;
    size_t at = static_cast<size_t>(it - log.begin());
    std::vector<std::string> expected{header};
    expected.insert(expected.end(), rows.begin(), rows.end());
    expected.insert(expected.end(), {"", endLine, ""});
    std::vector<std::string> actual(log.begin() + static_cast<long>(at),
                                    log.begin() + static_cast<long>(std::min(log.size(), at + expected.size())));
    EXPECT_EQ(actual, expected) << header;
    return at;
}

} // namespace

TEST(Cadastros, RowsLogAndGaugeOfTheSixTables) {
    Installation inst;
    inst.startFtp({"--make-folders"});
    inst.createSource(fixtureRows());
    addStaleRows(inst.templatePath);

    RunResult r = inst.run();
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string m = inst.mobilePath;

    {
        SCOPED_TRACE("USUARIO");
        auto rows = query(m, "select TID, ATIVO, DATA, DATAATUALIZACAO, LOGIN, SENHA, NOME, TIDAREA1, TIDAREA2, "
                             "TIDAREA3, TIDAREA4, TIDAREA5, TIDAREA6, TIDAREA7, TIDAREA8, TIDAREA9, TIDAREA10 "
                             "from USUARIO order by TID");
        std::vector<Row> expected{
            {"1", "1", kData, kAtualizacao, kLogin1, kSenha, kNomeJose, "101", "102", "103", "104", "105", "106", "107",
             "108", "109", "110"},
            {"2", "1", kNullTs, kNullTs, "maria", "123", "", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"},
        };
        EXPECT_EQ(rows, expected);
    }
    {
        SCOPED_TRACE("CLASFISCAL");
        auto rows = query(m, "select TID, DESCRICAO, IPI, ATIVO, DATA, DATAATUALIZACAO, ICMS, OBSERVACAO, LETRA, "
                             "ICMSENTRADA, ICMSINTERNO from CLASFISCAL order by TID");
        std::vector<Row> expected{
            {"1", kCf1Descricao, "5.5", "1", kData, kAtualizacao, "18.25", kCf1Observacao, "AB", "7.125", "12.5"},
            {"2", kIsencao, "0", "1", kNullTs, kNullTs, "0", "", "", "0", "0"},
        };
        EXPECT_EQ(rows, expected);
    }
    {
        SCOPED_TRACE("PRODUTO");
        auto rows = query(m, "select TID, CODEXP, CODINTERNO, PC, PL, PV, DATAATUALIZACAO, ATIVO, DESCRICAO, "
                             "TIDFABRICANTE, TIDCLASFISCAIS, ESTOQUEATUAL, DESCONTO, ORIGEM, STATUS, MAINGROUP, "
                             "TIDSTATUS, DESCONTOADICIONAL, MINIMOCOMPRAVENDA, PG, DESCCOMPENSA, PCPRODUTO, DATA "
                             "from PRODUTO order by TID");
        std::vector<Row> expected{
            {"10",         kCodExp10, kCodInterno10, "1.23",  "2.50", "12.34", kAtualizacao, "1",
             kDescricao10, "31",      "32",          "12.50", "1.5",  "NAC",   "AT",         "G01",
             "33",         "0.75",    "4.56",        "3",     "2.25", "3.33",  "NULL"},
            {"11", "", kCodInterno11, "0.00", "0.00", "0.01", kNullTs, "1",    "",    "0", "0", "-3.75", "0", "",
             "",   "", "0",           "0",    "0.00", "0",    "0",     "0.00", "NULL"},
        };
        EXPECT_EQ(rows, expected);
    }
    {
        SCOPED_TRACE("STATUS");
        auto rows = query(m, "select TID, STATUS, ATIVO, DATA, DATAATUALIZACAO from STATUS order by TID");
        std::vector<Row> expected{
            {"1", kStatus1, "1", kData, kAtualizacao},
            {"2", kPromocao, "1", kNullTs, kNullTs},
        };
        EXPECT_EQ(rows, expected);
    }
    {
        SCOPED_TRACE("EMPRESA");
        auto rows = query(m, "select TID, TIDUF, TIDCONDPAGAMENTO, TIDTRANSPORTADORA, TIDAREA, ATIVO, DATA, "
                             "DATAATUALIZACAO, RAZAOSOCIAL, NOMEFANTASIA, ENDERECO, BAIRRO, CIDADE, CEP, COMPLEMENTO, "
                             "TELEFONE, EMAILCONTATO, PESSOACONTATO, CNPJ, TIPOEMPRESA, DEPTOCONTATO, TIPOFRETE "
                             "from EMPRESA order by TID");
        const Empresa1& e = kEmpresa1;
        auto bare = [](const std::string& tid, const std::string& razao, const std::string& fantasia) {
            // CHAR(1) pads the empty TIPOEMPRESA to one blank.
            return Row{tid, "0", "0", "0", "0", "1", kNullTs, kNullTs, razao, fantasia, "",
                       "",  "",  "",  "",  "",  "",  "",      "",      " ",   "",       "0"};
        };
        std::vector<Row> expected{
            {"1",     "21",       "22",       "23",     "24",     "1",   kData,         kAtualizacao,
             e.razao, e.fantasia, e.endereco, e.bairro, e.cidade, e.cep, e.complemento, e.telefone,
             e.email, e.pessoa,   e.cnpj,     "E",      e.depto,  "2"},
            bare("2", "Sem Fantasia Ltda", ""),
            bare("4", "Acucar SA", kAcucar),
            bare("5", "Razao 5", "Fantasia 5"),
            bare("7", "Razao 7", "Fantasia 7"),
            bare("8", "Razao 8", "Fantasia 8"),
            bare("10", "Razao 10", "Fantasia 10"),
        };
        EXPECT_EQ(rows, expected);
    }
    {
        SCOPED_TRACE("TABELAPRECO");
        auto rows = query(m, "select TID, TIDCLIENTE, TIDPRODUTO, ATIVO, DATA, DATAATUALIZACAO, FORMA, DOCUMENTO, "
                             "VALOR, PEDIDO, DATAREFERENCIA, CODCLIENTE from TABELAPRECO order by TID");
        std::vector<Row> expected{
            {"-7", "0", "43", "1", kNullTs, kNullTs, "", "", "0.00", "", "2024-02-29 00:00:00.0000", ""},
            {"15", "41", "42", "1", kData, kAtualizacao, kForma15, kDocumento15, "12.50", kPedido15,
             "2024-03-01 12:00:00.0000", kCodCliente15},
        };
        EXPECT_EQ(rows, expected);
    }

    // The run log, in Windows-1252: each table's block, in the run's order.
    std::vector<std::string> log = logLines(inst.log());
    size_t estados = expectBlock(log, "***** Tabela Estados *****", {}, "Finalizando Tabela Estado");
    size_t usuarios = expectBlock(log, "***** Tabela Usu\xE1rios *****",
                                  {"Sincronizando Usu\xE1rio: " + kNomeJose, "Sincronizando Usu\xE1rio: "},
                                  "Finalizando Tabela Usu\xE1rio");
    size_t clasFiscal = expectBlock(log,
                                    "***** Tabela Classifica\xE7\xF5"
                                    "es Fiscais *****",
                                    {"Sincronizando Classifica\xE7\xE3o Fiscal: " + kCf1Descricao,
                                     "Sincronizando Classifica\xE7\xE3o Fiscal: " + kIsencao},
                                    "Finalizando Tabela Classifica\xE7\xE3o Fiscal");
    size_t produtos =
        expectBlock(log, "***** Tabela Produtos *****",
                    {"Sincronizando Produto: " + kCodInterno10, "Sincronizando Produto: " + kCodInterno11},
                    "Finalizando Tabela Produto");
    size_t categorias = expectBlock(log, "***** Tabela Status *****",
                                    {"Sincronizando Status: " + kStatus1, "Sincronizando Status: " + kPromocao},
                                    "Finalizando Tabela Status");
    size_t empresas = expectBlock(log, "***** Tabela Empresa *****",
                                  {"Sincronizando empresa: " + kEmpresa1.fantasia,
                                   "Sincronizando empresa: ", "Sincronizando empresa: " + kAcucar,
                                   "Sincronizando empresa: Fantasia 5", "Sincronizando empresa: Fantasia 7",
                                   "Sincronizando empresa: Fantasia 8", "Sincronizando empresa: Fantasia 10"},
                                  "Finalizando Tabela Empresa");
    size_t tabelaPreco = expectBlock(log, "***** Tabela Pre\xE7o *****",
                                     {"Sincronizando Tabela Pre\xE7o:15", "Sincronizando Tabela Pre\xE7o:-7"},
                                     "Finalizando Tabela Pre\xE7o");
    EXPECT_LT(estados, usuarios);
    EXPECT_LT(usuarios, clasFiscal);
    EXPECT_LT(clasFiscal, produtos);
    EXPECT_LT(produtos, categorias);
    EXPECT_LT(categorias, empresas);
    EXPECT_LT(empresas, tabelaPreco);

    // Each copy's gauge as it leaves it: products and companies count rows they do not copy.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "test_cadastros";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    vela::AppSettings settings;
    settings.mobileFolder = QString::fromStdString(inst.mobileFolder);
    settings.sourceDatabase = QString::fromStdString(inst.sourcePath);
    vela::TfrmPrincipal frm(settings);
    vela::TDMSistemaCadastro dm({inst.sourcePath, inst.mobilePath});
    frm.setDataModule(&dm);
    frm.Button1Click();
    // The template copy is filled beside the published file, which it replaces only when whole.
    ASSERT_TRUE(std::filesystem::exists(dm.FDConnectionBancoMovel.param("Database")));
    ASSERT_NE(dm.FDConnectionBancoMovel.param("Database"), inst.mobilePath);
    dm.FDTransactionBancoMovel.start();

    struct Step {
        const char* method;
        const char* name;
        int maximum;
        int position;
    };
    const Step steps[] = {
        {"sincronizaUsuarios", "usuarios", 2, 2},  {"sincronizaClasFiscal", "clasfiscal", 2, 2},
        {"sincronizaProdutos", "produtos", 5, 2},  {"sincronizaCategorias", "categorias", 2, 2},
        {"sincronizaEmpresas", "empresas", 10, 7}, {"sincronizaTabelaPreco", "tabelapreco", 2, 2},
    };
    for (const Step& step : steps) {
        vela::runTableCopy(vela::findCopy(step.method).copy, dm, frm);
        EXPECT_EQ(frm.Gauge1->maxValue(), step.maximum) << step.name;
        EXPECT_EQ(frm.Gauge1->progress(), step.position) << step.name;
    }
    frm.setDataModule(nullptr);
    dm.release();
}
