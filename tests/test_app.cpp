// The real binary, end to end: modes, the run log file, maquinas.txt, the template copy, failures.
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <unistd.h>

using namespace vela::test;
namespace fs = std::filesystem;

namespace {

const std::string kStates = "insert into estado (tid, uf, descricao, ativo) values (1, 'SP', 'S\xe3o Paulo', 1);\n"
                            "insert into estado (tid, uf, ativo) values (2, '\xc1\xc9', 1);\n";

// The run log of a successful unattended run with the two states above and no other rows.
std::string expectedLog(const Installation& in,
                        const std::string& firstLine = "Banco Vazio pronto para Sincroniza\xe7\xe3o") {
    std::string log = "\r\n" + firstLine + "\r\n" + in.templatePath + "\r\n" + in.mobilePath +
                      "\r\nINICIO SINCRONIZA\xc7\xc3O\r\n***** Tabela Estados *****\r\nSincronizando Estado: "
                      "SP\r\nSincronizando Estado: \xc1\xc9\r\n\r\nFinalizando Tabela Estado\r\n\r\n";
    return log;
}

} // namespace

TEST(App, UnattendedRunWritesTheExactLogAndFillsTheMobileDatabase) {
    Installation in;
    in.createSource(kStates);
    in.startFtp();
    RunResult r = in.run({"eXeCuTaR", "ignored"});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string log = in.log();
    // The other seventeen copies have nothing to copy here; their blocks follow the states'.
    std::string head = expectedLog(in);
    ASSERT_GE(log.size(), head.size());
    EXPECT_EQ(log.substr(0, head.size()), head);
    std::string tail = "\r\nExporta\xe7\xe3o Conclu\xed"
                       "da.\r\nSalvando log em: " +
                       in.logPath() + "\r\n\r\n";
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_EQ(query(in.mobilePath, "select tid, uf, descricao from estado order by tid"),
              (std::vector<Row>{{"1", "SP", "S\xe3o Paulo"}, {"2", "\xc1\xc9", ""}}));
    // Standard output ends with the summary line (the empty quota copy counts both its tables);
    // standard error, a file here, holds nothing: no progress line, no warning of Qt's.
    EXPECT_TRUE(std::regex_search(r.out, std::regex("(^|\n)atualizavela-movel: 19 tabelas, 2 linhas em [0-9]+,[0-9] s; "
                                                    "enviado [0-9]+(,[0-9])? [kMG]?B em [0-9]+,[0-9] s; conclu\xc3\xad"
                                                    "do\n$")))
        << r.out;
    EXPECT_EQ(r.err, "");

    // A second run replaces the file of the first.
    writeFile(in.logPath(), "old");
    r = in.run({"executar"}, std::chrono::seconds(120), {{"XDG_RUNTIME_DIR", ""}});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(in.log().substr(0, head.size()), head);
}

TEST(App, NearMissesOfTheArgumentLeaveTheWindowWaiting) {
    Installation in;
    in.createSource(kStates);
    for (std::vector<std::string> args :
         {std::vector<std::string>{"EXECUTAR "}, {"-EXECUTAR"}, {"x", "EXECUTAR"}, {"-reverse", "EXECUTAR"}, {}}) {
        RunResult r = in.run(args, std::chrono::milliseconds(1500));
        EXPECT_TRUE(r.timedOut) << "argument list of " << args.size();
        EXPECT_FALSE(fs::exists(in.logPath()));
        EXPECT_FALSE(fs::exists(in.mobilePath));
    }
}

TEST(App, MaquinasTxtNamesTheSourceFolder) {
    Installation in;
    in.startFtp();
    in.createSource(kStates);
    fs::create_directory(in.dir / "dados");
    fs::rename(in.sourcePath, in.dir / "dados/BANCODADOS.FDB");
    // The settings' source no longer exists: only maquinas.txt can lead to the database.
    // An empty database where the settings point, for the run without maquinas.txt below.
    in.createSource("");

    // Written on Windows: the CR is not part of the folder; only the first line counts.
    writeFile(in.dir / "maquinas.txt", "present");
    writeFile(in.mobileFolder + "/maquinas.txt", in.dir / "dados" + "\r\nsecond line\r\n");
    RunResult r = in.run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "2");

    // A trailing separator doubles it, which the file system takes all the same.
    writeFile(in.mobileFolder + "/maquinas.txt", in.dir / "dados/\n");
    r = in.run();
    EXPECT_EQ(r.exitCode, 0) << r.err;

    // Without maquinas.txt in the working folder the mobile folder's one is not read.
    fs::remove(in.dir / "maquinas.txt");
    writeFile(in.mobileFolder + "/maquinas.txt", "/nowhere\n");
    r = in.run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "0");

    // An empty first line names "/BANCODADOS.FDB", which does not open: headless, the error goes to
    // standard error, the log is saved and the run ends as failed.
    writeFile(in.dir / "maquinas.txt", "present");
    writeFile(in.mobileFolder + "/maquinas.txt", "");
    r = in.run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "/BANCODADOS.FDB")) << r.err;
    // The template copy already opens the source on that path, so the run never begins.
    EXPECT_TRUE(contains(in.log(), "Banco Vazio pronto"));
    EXPECT_FALSE(contains(in.log(), "INICIO SINCRONIZA"));
    EXPECT_FALSE(contains(in.log(), "Salvando log em"));
    EXPECT_TRUE(
        contains(in.log(), "BANCODADOS.gdb\r\nI/O error during \"open\" operation for file \"/BANCODADOS.FDB\""))
        << in.log(); // the failure ends the saved log

    // maquinas.txt in the working folder, none in the mobile folder.
    fs::remove(in.mobileFolder + "/maquinas.txt");
    r = in.run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "Cannot open file \"" + in.mobileFolder + "/maquinas.txt\". No such file or directory"))
        << r.err;
    // Nothing was appended before the failure, which is the log's last line.
    EXPECT_EQ(in.log(),
              "\r\nCannot open file \"" + in.mobileFolder + "/maquinas.txt\". No such file or directory\r\n\r\n");
}

TEST(App, AMissingTemplateIsReportedAndTheRunGoesOn) {
    Installation in;
    in.startFtp();
    in.createSource(kStates);
    ASSERT_EQ(in.run().exitCode, 0);
    fs::remove(in.templatePath);
    RunResult r = in.run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(in.log().substr(0, expectedLog(in, "Erro ao Copiar").size()), expectedLog(in, "Erro ao Copiar"));
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "2");
}

TEST(App, ASourceThatCannotBeOpenedFailsWithoutHanging) {
    Installation in; // no source database created
    RunResult r = in.run({"EXECUTAR"}, std::chrono::seconds(30));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "backoffice.fdb")) << r.err;
}

TEST(App, AFailureInATableCopyIsLoggedSavedAndEndsTheProgram) {
    Installation in;
    in.createSource(kStates);
    runSql(in.templatePath, "drop table estado;");
    RunResult r = in.run();
    EXPECT_EQ(r.exitCode, 1);
    // The client's message, several lines long, ends the log.
    std::string log = in.log();
    std::string expected = "***** Tabela Estados *****\r\nDynamic SQL Error\r\n-SQL error code = -204\r\n"
                           "-Table unknown\r\n-ESTADO\r\n-At line 1, column 13\r\n\r\n";
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(log.substr(log.size() - expected.size()), expected);
    EXPECT_TRUE(contains(r.out, ": 1 tabela, 0 linhas em ")) << r.out;
    EXPECT_TRUE(contains(r.out, " s; falhou: Dynamic SQL Error -SQL error code = -204 -Table unknown -ESTADO "
                                "-At line 1, column 13\n"))
        << r.out;
}

TEST(App, ATerminalSeesTheProgressLineRewrittenInPlace) {
    Installation in;
    in.createSource(kStates);
    in.startFtp();
    // Under script(1) both streams are a terminal. Qt's own options after the first argument leave
    // it the first.
    const std::string exe = in.exe;
    in.exe = "/usr/bin/script";
    RunResult r = in.run({"-q", "-e", "-c", "'" + exe + "' EXECUTAR -reverse", "/dev/null"});
    in.exe = exe;
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "\rEstados ")) << r.out;
    EXPECT_TRUE(contains(r.out, " linhas/s\x1b[K")) << r.out;
    EXPECT_TRUE(contains(r.out, "\renviando: ")) << r.out;
    // Cleared before the summary line, which starts a line of its own.
    EXPECT_TRUE(contains(r.out, "\r\x1b[Katualizavela-movel: 19 tabelas, 2 linhas em ")) << r.out;
    EXPECT_FALSE(contains(in.log(), "linhas/s"));

    // Only standard error's own terminal counts: redirected, it gets no progress line.
    const std::string err = in.dir / "stderr-redirected.txt";
    in.exe = "/usr/bin/script";
    r = in.run({"-q", "-e", "-c", "'" + exe + "' EXECUTAR 2>'" + err + "'", "/dev/null"});
    in.exe = exe;
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "atualizavela-movel: 19 tabelas")) << r.out;
    EXPECT_FALSE(contains(readFile(err), "linhas/s")) << readFile(err);
}

TEST(App, ALogFileThatCannotBeWrittenIsAnError) {
    Installation in;
    in.startFtp();
    in.createSource(kStates);
    fs::create_directory(in.logPath()); // a folder where the file should go
    RunResult r = in.run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "Cannot create file \"" + in.logPath() + "\". Is a directory")) << r.err;
}

TEST(App, SettingsThatCannotBeTrustedFailBeforeAnyFileChanges) {
    Installation in;
    in.startFtp({"--make-folders"});
    in.createSource(kStates);
    const std::string ini = in.dir / "atualizavela-movel.ini";
    const std::string good = readFile(ini);
    struct Case {
        std::string name;
        std::string content;
        fs::perms mode;
        std::map<std::string, std::string> env;
        std::string message;
        uid_t owner = 0;
    };
    std::string badPort = good;
    badPort.replace(badPort.find("port="), 5, "port=abc\n;");
    const Case cases[] = {
        {"named file missing",
         good,
         fs::perms(0644),
         {{"ATUALIZAVELA_CONFIG", in.dir / "none.ini"}},
         "\"" + (in.dir / "none.ini") + "\": No such file or directory"},
        {"named file unreadable", good, fs::perms(0644), {{"ATUALIZAVELA_CONFIG", in.dir.path()}}, "Is a directory"},
        {"writable by all", good, fs::perms(0666), {}, "\"" + ini + "\" tem o modo 0666"},
        {"writable by the group", good, fs::perms(0664), {}, "\"" + ini + "\" tem o modo 0664"},
        {"writable by others only", good, fs::perms(0602), {}, "\"" + ini + "\" tem o modo 0602"},
        {"port not a number", badPort, fs::perms(0644), {}, "Valor inv\xc3\xa1lido em [ftp] port: abc"},
        {"password readable by others", good + "[source]\npassword=x\n", fs::perms(0644), {}, "tem o modo 0644"},
        {"owned by someone else", good, fs::perms(0644), {}, "pertence ao usu\xc3\xa1rio", 65534},
    };
    for (const Case& c : cases) {
        writeFile(ini, c.content);
        fs::permissions(ini, c.mode);
        ASSERT_EQ(::chown(ini.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        RunResult r = in.run({"EXECUTAR"}, std::chrono::seconds(120), c.env);
        EXPECT_EQ(r.exitCode, 1) << c.name;
        EXPECT_TRUE(contains(r.err, c.message)) << c.name << ": " << r.err;
        EXPECT_FALSE(fs::exists(in.logPath())) << c.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(in.mobileFolder + "/Banco"), fs::directory_iterator()), 1)
            << c.name << ": only the template";
        EXPECT_TRUE(fs::is_empty(in.ftpServer->downloads() / vela::test::kTestCompany)) << c.name;
    }
    writeFile(ini, good);
    fs::permissions(ini, fs::perms(0644));
    ASSERT_EQ(::chown(ini.c_str(), 0, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(in.run().exitCode, 0);
}

TEST(App, HelpAndVersionAnswerWithoutAWindowOrAFile) {
    Installation in;
    for (const char* arg : {"--help", "-h", "--version"}) {
        // No platform plugin could be loaded: nothing of Qt may start.
        RunResult r = in.run({arg}, std::chrono::seconds(10), {{"QT_QPA_PLATFORM", "none"}});
        EXPECT_EQ(r.exitCode, 0) << arg << r.err;
        EXPECT_TRUE(contains(r.out, std::string(arg) == "--version" ? "atualizavela-movel 1." : "EXECUTAR")) << r.out;
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(fs::exists(in.logPath()));
    EXPECT_FALSE(fs::exists(in.mobilePath));
}

TEST(App, AnUnattendedRunWithoutADisplayLoadsNoWidgetOrGuiLibrary) {
    Installation in;
    in.createSource(kStates);
    in.startFtp();
    // The dynamic loader's own account of every library it maps, program start and dlopen alike.
    const std::string trace = in.dir / "loader";
    RunResult r = in.run({"EXECUTAR"}, std::chrono::seconds(120),
                         {{"QT_QPA_PLATFORM", ""},
                          {"DISPLAY", ""},
                          {"WAYLAND_DISPLAY", ""},
                          {"LD_DEBUG", "files"},
                          {"LD_DEBUG_OUTPUT", trace}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string loaded;
    for (const fs::directory_entry& e : fs::directory_iterator(in.dir.path()))
        if (e.path().filename().string().rfind("loader.", 0) == 0)
            loaded += readFile(e.path());
    ASSERT_TRUE(contains(loaded, "file=libQt6Core.so.6")) << "no loader trace";
    EXPECT_FALSE(contains(loaded, "libQt6Widgets"));
    EXPECT_FALSE(contains(loaded, "libQt6Gui"));
    EXPECT_FALSE(contains(loaded, "atualizavela-movel-janela"));
}

TEST(App, WithoutItsWindowLibraryTheWindowFailsBeforeAnyFileChanges) {
    const std::string installed = std::string(VELA_WINDOW_MODULE_DIR) + "/atualizavela-movel-janela.so";
    if (fs::exists(installed))
        GTEST_SKIP() << "the package's window library is installed: " << installed;
    Installation in;
    in.createSource(kStates);
    in.startFtp();
    const std::string beside = in.dir / "atualizavela-movel-janela.so";
    // Looked for beside the program, never on the library path.
    fs::create_directory(in.dir / "lib");
    fs::rename(beside, in.dir / "lib/atualizavela-movel-janela.so");
    struct Case {
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
    };
    const Case cases[] = {{{}, {{"LD_LIBRARY_PATH", in.dir / "lib"}}},
                          // Unattended with a display shows the window too.
                          {{"EXECUTAR"}, {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":99"}}}};
    for (const Case& c : cases) {
        RunResult r = in.run(c.args, std::chrono::seconds(20), c.env);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(
            contains(r.err, "N\xc3\xa3o foi poss\xc3\xadvel carregar a janela do programa: \"" + beside + "\": "))
            << r.err;
        EXPECT_TRUE(contains(r.err, "\"" + installed + "\": ")) << r.err;
        EXPECT_TRUE(contains(r.err, "No such file or directory")) << r.err;
        EXPECT_FALSE(fs::exists(in.logPath()));
        EXPECT_EQ(std::distance(fs::directory_iterator(in.mobileFolder + "/Banco"), fs::directory_iterator()), 1)
            << "only the template";
    }
}
