// The back office reached through a real Firebird server on 127.0.0.1, and what the program does
// when that server refuses the login, names no database or goes away in the middle of a copy.
#include "app/principal.h"
#include "db/ModuloDadosCadastro.h"
#include "tests/support/FirebirdServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"
#include "tests/support/WidgetsApp.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <thread>

using namespace vela::test;
namespace fs = std::filesystem;

namespace {

class ServerFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<FirebirdServer>(); }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override {
        if (!server->running() && !server->start())
            GTEST_SKIP() << server->skipReason();
    }
    // The settings name the source through the server.
    void throughServer(Installation& in) {
        in.sourcePath = server->url(in.dir / "backoffice.fdb");
        in.writeSettings();
    }

    static std::unique_ptr<FirebirdServer> server;
};

std::unique_ptr<FirebirdServer> ServerFaults::server;

const std::string kStates = "insert into estado (tid, uf, ativo) values (1, 'SP', 1);\n"
                            "insert into estado (tid, uf, ativo) values (2, 'RJ', 1);\n";

} // namespace

TEST_F(ServerFaults, TheSourceIsReadThroughTheServerAndAWrongPasswordFailsWithItsMessage) {
    Installation in;
    in.createSource(kStates);
    fs::create_directory(in.dir / "dados");
    fs::copy_file(in.sourcePath, in.dir / "dados/BANCODADOS.FDB");
    throughServer(in);

    // maquinas.txt names a folder on the server, written on Windows.
    writeFile(in.dir / "maquinas.txt", "present");
    writeFile(in.mobileFolder + "/maquinas.txt", server->url(in.dir / "dados") + "\r\n");
    // The upload reads the company through the server too.
    in.startFtp();
    RunResult r = in.run({"EXECUTAR"}, std::chrono::seconds(60));
    ASSERT_FALSE(r.timedOut);
    ASSERT_EQ(r.exitCode, 0) << r.err << in.log();
    EXPECT_TRUE(contains(in.log(), "\r\nExporta\xe7\xe3o Conclu\xed"
                                   "da.\r\n"));
    EXPECT_EQ(query(in.mobilePath, "select tid, uf from estado order by tid"),
              (std::vector<Row>{{"1", "SP"}, {"2", "RJ"}}));

    // The server refuses the login: no dialog waits, the server's message goes to standard error,
    // the log so far is saved and the run ends as failed.
    server->setSysdbaPassword("quillfern", "not-ours");
    r = in.run({"EXECUTAR"}, std::chrono::seconds(60));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "Your user name and password are not defined. Ask your database administrator to "
                                "set up a Firebird login."))
        << r.err;
    std::string log = in.log();
    EXPECT_TRUE(contains(log, "Banco Vazio pronto para Sincroniza")) << log;
    EXPECT_FALSE(contains(log, "INICIO SINCRONIZA")) << log;
    // Headless, the message that would have gone to the error box ends the saved log.
    EXPECT_TRUE(endsWith(log, "set up a Firebird login.\r\n\r\n")) << log;

    // The server's own password, from a file only its owner and group can read: the run goes
    // through, and the password shows nowhere.
    const std::string ini = in.dir / "atualizavela-movel.ini";
    writeFile(ini, readFile(ini) + "[source]\npassword=not-ours\n");
    fs::permissions(ini, fs::perms(0640));
    r = in.run({"EXECUTAR"}, std::chrono::seconds(60));
    server->setSysdbaPassword("not-ours", "quillfern");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(contains(in.log() + r.out + r.err, "not-ours"));
}

TEST_F(ServerFaults, ASourcePathNamingNoDatabaseFailsWithTheServersMessage) {
    Installation in;
    in.createSource(kStates);
    throughServer(in);
    struct Case {
        std::string database;
        std::vector<std::string> message;
    };
    std::string text;
    while (text.size() < 40000)
        text += "not a database, only text\r\n";
    writeFile(in.dir / "notes.fdb", text);
    const Case cases[] = {
        {server->url(in.dir / "missing.fdb"),
         {"I/O error during \"open\" operation for file \"" + (in.dir / "missing.fdb") + "\"",
          "No such file or directory"}},
        {server->url(in.dir / "notes.fdb"), {"is not a valid database"}},
        // A server that is not there at all.
        {"127.0.0.1/1:" + (in.dir / "backoffice.fdb"),
         {"Unable to complete network request to host \"127.0.0.1\"", "Failed to establish a connection"}},
    };
    for (const Case& c : cases) {
        in.sourcePath = c.database;
        in.writeSettings();
        SCOPED_TRACE(c.database);
        RunResult r = in.run({"EXECUTAR"}, std::chrono::seconds(60));
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1);
        for (const auto& m : c.message)
            EXPECT_TRUE(contains(r.err, m)) << r.err;
        EXPECT_FALSE(contains(in.log(), "Salvando log em")) << in.log();
    }
}

TEST_F(ServerFaults, TheServerStoppedInTheMiddleOfATableCopy) {
    Installation in;
    // Enough states that the copy, one commit per row, is still running when the server goes.
    const int total = 20000;
    in.createSource("set term ^;\n"
                    "execute block as declare i int = 1; begin while (i <= " +
                    std::to_string(total) +
                    ") do begin insert into estado (tid, uf, descricao, ativo) values (:i, 'SP', 'Estado ' || :i, 1);"
                    " i = i + 1; end end^\n"
                    "set term ;^\n");
    throughServer(in);
    const auto templateSize = fs::file_size(in.templatePath);
    BackgroundRun run(in);
    // The database being built grows once a few hundred states are in; on a slow disk two seconds
    // are well inside the copy all the same.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::error_code ec;
    while (std::chrono::steady_clock::now() < deadline && !run.finished()) {
        auto size = fs::file_size(buildingFile(in.mobilePath), ec);
        if (!ec && size > templateSize)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(run.finished()) << "the copy ended before the server could be stopped";
    server->kill();
    RunResult r = run.wait(std::chrono::seconds(30));
    ASSERT_FALSE(r.timedOut) << "the program hung once the server had gone";
    EXPECT_EQ(r.exitCode, 1) << r.err;

    // The client's message ends the saved log, inside the state table's copy.
    std::string log = in.log();
    auto lines = logLines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(contains(log, "***** Tabela Estados *****"));
    EXPECT_FALSE(contains(log, "Finalizando Tabela Estado"));
    EXPECT_FALSE(contains(log, "Salvando log em"));
    EXPECT_TRUE(contains(log, "Error reading data from the connection") || contains(log, "connection lost") ||
                contains(log, "Connection shutdown") || contains(log, "network"))
        << log.substr(log.size() > 600 ? log.size() - 600 : 0);

    size_t copied = countLinesStarting(log, "Sincronizando Estado: ");
    EXPECT_GT(copied, 0u);
    EXPECT_LT(copied, static_cast<size_t>(total));
    // The half-built database is not published, and is gone.
    EXPECT_FALSE(fs::exists(in.mobilePath));
    EXPECT_EQ(buildingFile(in.mobilePath), "");
}

TEST_F(ServerFaults, AServerThatWentAwayIsUsableAgainOnceItIsBack) {
    vela::test::widgetsApp();

    Installation in;
    in.createSource(kStates);
    vela::AppSettings settings;
    settings.mobileFolder = QString::fromStdString(in.mobileFolder);
    settings.sourceDatabase = QString::fromStdString(server->url(in.sourcePath));
    vela::TfrmPrincipal w(settings);
    vela::TDMSistemaCadastro dm({settings.sourceDatabase.toStdString(), settings.mobilePath().toStdString()});
    w.setDataModule(&dm);

    // Step 1 leaves the source connection open; then the server restarts under it.
    w.Button5Click();
    ASSERT_TRUE(w.lastError().isEmpty()) << w.lastError().toStdString();
    server->kill();
    ASSERT_TRUE(server->start()) << server->skipReason();

    // The next click closes the dead connection without a word and reads through the new server.
    w.Button5Click();
    EXPECT_TRUE(w.lastError().isEmpty()) << w.lastError().toStdString();
    EXPECT_FALSE(w.ended());
    w.setDataModule(nullptr);
    dm.release();
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "2");
}
