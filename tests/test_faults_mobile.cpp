// Faults on the mobile side: a template that is no database or lacks a table, a constraint the
// mobile database enforces and the source breaks, a file system that fills up. Every one ends the
// run with the database's or the system's own message, and nothing of the failed run is published:
// the database being built beside the published one is deleted.
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>

using namespace vela::test;
namespace fs = std::filesystem;

namespace {

const std::string kStatesAndUsers = "insert into estado (tid, uf, ativo) values (1, 'SP', 1);\n"
                                    "insert into estado (tid, uf, ativo) values (2, 'RJ', 1);\n"
                                    "insert into usuario (tid, ativo, login, senha) values (1, 1, 'a', 's');\n"
                                    "insert into usuario (tid, ativo, login, senha) values (2, 1, 'b', 's');\n";

} // namespace

TEST(MobileFaults, ATemplateThatIsNoDatabaseFailsToOpen) {
    Installation in;
    in.createSource(kStatesAndUsers);
    std::string text;
    while (text.size() < 64 * 1024)
        text += "Este arquivo n\xe3o \xe9 um banco de dados.\r\n";
    for (const std::string& content : {text, std::string("curto\r\n")}) {
        writeFile(in.templatePath, content);
        RunResult r = in.run();
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1);
        // The copy itself succeeds; opening the copy fails with the client's message, before the run.
        EXPECT_TRUE(contains(r.err, in.mobilePath)) << r.err;
        if (content.size() > 8192) {
            EXPECT_TRUE(contains(r.err, "is not a valid database")) << r.err;
        }
        std::string log = in.log();
        EXPECT_TRUE(contains(log, "Banco Vazio pronto para Sincroniza"));
        EXPECT_FALSE(contains(log, "INICIO SINCRONIZA"));
        EXPECT_FALSE(fs::exists(in.mobilePath));
        EXPECT_EQ(buildingFile(in.mobilePath), "");
    }
}

TEST(MobileFaults, ATemplateLackingATableStopsAtItsDelete) {
    Installation in;
    in.createSource(kStatesAndUsers + "insert into clasfiscal (tid, descricao, ativo) values (1, 'c', 1);\n");
    runSql(in.templatePath, "drop table clasfiscal;");
    RunResult r = in.run();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::string log = in.log();
    EXPECT_TRUE(endsWith(log,
                         "***** Tabela Classifica\xe7\xf5"
                         "es Fiscais *****\r\nDynamic SQL Error\r\n"
                         "-SQL error code = -204\r\n-Table unknown\r\n-CLASFISCAL\r\n-At line 1, column 13\r\n\r\n"))
        << log.substr(log.size() > 400 ? log.size() - 400 : 0);
    // The two tables before it were filled, but a half-filled database is never published.
    EXPECT_EQ(countLinesStarting(log, "Finalizando Tabela"), 2u);
    EXPECT_FALSE(fs::exists(in.mobilePath));
    EXPECT_EQ(buildingFile(in.mobilePath), "");
}

TEST(MobileFaults, AConstraintViolationKeepsTheRowsBeforeIt) {
    Installation in;
    const std::string pristine = in.dir / "VAZIO.original";
    fs::copy_file(in.templatePath, pristine);
    in.createSource(kStatesAndUsers + "insert into usuario (tid, ativo, login, senha) values (3, 1, 'c', 's');\n"
                                      "insert into usuario (tid, ativo, login, senha) values (4, 1, 'b', 's');\n"
                                      "insert into usuario (tid, ativo, login, senha) values (5, 1, 'e', 's');\n"
                                      "insert into cvf (tid, ativo, idteste, tidcliente) values (1, 1, 'MC-1', 11);\n"
                                      "insert into cvf (tid, ativo, idteste, tidcliente) values (2, 1, 'MC-2', 12);\n"
                                      "insert into cvf (tid, ativo, idteste, tidcliente) values (3, 1, 'MC-3', 13);\n"
                                      "insert into cvf (tid, ativo, idteste, tidcliente) values (4, 1, 'MC-4', 14);\n");

    // A mobile key the source lacks, broken by the fourth user: the run ends there, and the database
    // published before it stays as it was.
    in.startFtp({"--make-folders"});
    ASSERT_EQ(in.run().exitCode, 0);
    const std::string previous = readFile(in.mobilePath);
    runSql(in.templatePath, "alter table usuario add constraint usuario_login unique (login);");
    RunResult r = in.run();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::string log = in.log();
    EXPECT_TRUE(endsWith(log, "violation of PRIMARY or UNIQUE KEY constraint \"USUARIO_LOGIN\" on table "
                              "\"USUARIO\"\r\n-Problematic key value is (\"LOGIN\" = 'b')\r\n\r\n"))
        << log.substr(log.size() > 400 ? log.size() - 400 : 0);
    EXPECT_EQ(countLinesStarting(log, "Sincronizando Usu"), 3u);
    EXPECT_TRUE(readFile(in.mobilePath) == previous);

    // The last table, whose rows only the close commits.
    fs::copy_file(pristine, in.templatePath, fs::copy_options::overwrite_existing);
    runSql(in.templatePath, "alter table cvf add constraint cvf_cliente check (tidcliente <> 13);");
    r = in.run();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    log = in.log();
    EXPECT_TRUE(endsWith(log, "Sincronizando CVF: MC-2\r\nOperation violates CHECK constraint CVF_CLIENTE on view "
                              "or table CVF\r\n-At trigger 'CHECK_1'\r\n\r\n"))
        << log.substr(log.size() > 400 ? log.size() - 400 : 0);
    EXPECT_TRUE(readFile(in.mobilePath) == previous);
    EXPECT_EQ(query(in.mobilePath, "select count(*) from cvf")[0][0], "4");
    EXPECT_EQ(buildingFile(in.mobilePath), "");
}

TEST(MobileFaults, AFullFileSystemEndsTheRunWithTheSystemsReason) {
    Installation in;
    const int total = 30000;
    in.createSource("set term ^;\n"
                    "execute block as declare i int = 1; begin while (i <= " +
                    std::to_string(total) +
                    ") do begin insert into estado (tid, uf, descricao, ativo) values (:i, 'SP', "
                    "rpad('Estado ', 100, 'x') || :i, 1); i = i + 1; end end^\n"
                    "set term ;^\n");
    // The mobile folder on a small file system: room for the template, its copy and a whole number of
    // database pages more. Where a page's write finds only part of a page left, the engine retries it
    // and reports "write_retry" with no system reason ("-Success"); where the pages fall depends on
    // how full the build keeps them.
    const std::string banco = in.mobileFolder + "/Banco";
    const auto templateSize = fs::file_size(in.templatePath);
    fs::rename(in.templatePath, in.dir / "VAZIO.GDB");
    const std::string size = "size=" + std::to_string((2 * templateSize + 512 * 1024) / 1024) + "k";
    if (mount("tmpfs", banco.c_str(), "tmpfs", 0, size.c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system here (" << std::strerror(errno)
                     << "); the full-disk case needs root and mount rights";
    struct Unmount {
        std::string dir;
        ~Unmount() { umount2(dir.c_str(), MNT_DETACH); }
    } unmount{banco};
    fs::copy_file(in.dir / "VAZIO.GDB", in.templatePath);

    RunResult r = in.run({"EXECUTAR"}, std::chrono::seconds(120));
    ASSERT_FALSE(r.timedOut) << "the program hung on the full file system";
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::string log = in.log();
    EXPECT_TRUE(endsWith(log, "\r\n-Error while trying to write to file\r\n-No space left on device\r\n\r\n"))
        << log.substr(log.size() > 800 ? log.size() - 800 : 0);
    EXPECT_TRUE(contains(log, "I/O error during \"write")) << log.substr(log.size() > 800 ? log.size() - 800 : 0);
    auto logged = countLinesStarting(log, "Sincronizando Estado: ");
    EXPECT_GT(logged, 0u);
    EXPECT_LT(logged, static_cast<size_t>(total));
    // The half-built file is gone, and its room with it.
    EXPECT_FALSE(fs::exists(in.mobilePath));
    EXPECT_EQ(buildingFile(in.mobilePath), "");

    // With a previous database beside the template there is no room for a copy of either: the
    // copy ends with the system's reason, not a bare input/output error.
    fs::copy_file(in.templatePath, in.mobilePath);
    r = in.run({"EXECUTAR"}, std::chrono::seconds(120));
    EXPECT_EQ(r.exitCode, 1);
    const std::string reason = "Cannot copy file \"" + in.mobilePath + "\". No space left on device";
    EXPECT_EQ(occurrences(r.err, reason), 1u) << r.err;
    EXPECT_TRUE(endsWith(in.log(), "Erro ao Copiar\r\n" + in.templatePath + "\r\n" + in.mobilePath + "\r\n" + reason +
                                       "\r\n\r\n"))
        << in.log();
    EXPECT_EQ(buildingFile(in.mobilePath), "");
}
