// The real binary, end to end: modes, the run log file, maquinas.txt, the template copy, failures.
#include "app/Settings.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/RunRecordFile.h"
#include "tests/support/TestEnv.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
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

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
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
                                                    "enviado [0-9]+(,[0-9])? [kMG]?B em [0-9]+,[0-9] s para "
                                                    "127\\.0\\.0\\.1:/www/downloads/Vela/BANCODADOS\\.gdb; "
                                                    "conclu\xc3\xad"
                                                    "do\n$")))
        << r.out;
    EXPECT_EQ(r.err, "");

    // Beside the log, the record of the run for a monitor.
    QJsonObject record = runRecord(in.dir.path());
    EXPECT_EQ(record["version"].toString().left(2), "1.");
    EXPECT_EQ(record["result"].toString(), "published");
    EXPECT_EQ(record["exit_status"].toInt(-1), 0);
    EXPECT_EQ(record["step"].toInt(), 2);
    EXPECT_EQ(record["message"].toString(), "");
    const std::regex iso("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(\\.\\d+)?(Z|[+-]\\d\\d:\\d\\d)");
    const QDateTime started = QDateTime::fromString(record["started"].toString(), Qt::ISODateWithMs);
    const QDateTime ended = QDateTime::fromString(record["ended"].toString(), Qt::ISODateWithMs);
    EXPECT_TRUE(std::regex_match(record["started"].toString().toStdString(), iso))
        << record["started"].toString().toStdString();
    EXPECT_TRUE(std::regex_match(record["ended"].toString().toStdString(), iso));
    EXPECT_LE(started, ended);
    EXPECT_NEAR(record["seconds"].toDouble(), started.msecsTo(ended) / 1000.0, 0.05);
    const QJsonArray tables = record["tables"].toArray();
    EXPECT_EQ(tables.size(), 19);
    EXPECT_EQ(tables[0].toObject()["name"].toString(), "Estados");
    EXPECT_EQ(tables[0].toObject()["rows"].toInt(), 2);
    EXPECT_EQ(record["rows"].toInt(), 2);
    // As the server got it: the queries above have opened the local one since.
    const std::string published = readFile(in.ftpServer->downloads() / "Vela/BANCODADOS.gdb");
    const QJsonObject file = record["file"].toObject(), upload = record["upload"].toObject();
    EXPECT_EQ(file["bytes"].toInteger(), static_cast<qint64>(published.size()));
    EXPECT_EQ(file["sha256"].toString().toStdString(),
              QCryptographicHash::hash(QByteArray::fromStdString(published), QCryptographicHash::Sha256)
                  .toHex()
                  .toStdString());
    EXPECT_EQ(upload["protocol"].toString(), "ftp");
    EXPECT_EQ(upload["host"].toString().toStdString(), in.ftpHost);
    EXPECT_EQ(upload["remote_path"].toString(), "/www/downloads/Vela/BANCODADOS.gdb");
    EXPECT_GT(upload["seconds"].toDouble(), 0);
    EXPECT_NEAR(upload["bytes_per_second"].toDouble() * upload["seconds"].toDouble(),
                static_cast<double>(published.size()), 1);

    // A second run replaces the file of the first; the record, too, is a new file renamed over the
    // old one, never the old one rewritten where a monitor may be reading it.
    writeFile(in.logPath(), "old");
    const std::string before = readFile(in.dir / "atualizavela-movel.json");
    fs::create_hard_link(in.dir / "atualizavela-movel.json", in.dir / "record.before");
    r = in.run({"executar"}, std::chrono::seconds(120), {{"XDG_RUNTIME_DIR", ""}});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(in.log().substr(0, head.size()), head);
    EXPECT_TRUE(readFile(in.dir / "record.before") == before) << "the record was rewritten in place";
    EXPECT_NE(runRecord(in.dir.path())["started"], record["started"]);
}

TEST(App, WithoutADisplayAnyOtherArgumentEndsAtOnceWithTheUsage) {
    Installation in;
    in.createSource(kStates);
    // Not even the settings are read: a file that does not exist is not what is reported.
    const std::map<std::string, std::string> offscreen{{"ATUALIZAVELA_CONFIG", in.dir / "none.ini"}};
    std::map<std::string, std::string> noVariables = offscreen;
    noVariables.insert({{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    const std::pair<std::vector<std::string>, std::map<std::string, std::string>> cases[] = {
        {{}, offscreen},
        {{}, noVariables},
        {{"EXECUTA"}, offscreen},
        {{"-V"}, offscreen},
        {{"--bogus"}, offscreen},
        {{"EXECUTAR "}, offscreen},
        {{"-EXECUTAR"}, offscreen},
        {{"x", "EXECUTAR"}, offscreen},
        {{"-reverse", "EXECUTAR"}, noVariables},
        {{"--CHECK"}, offscreen},
        {{""}, offscreen}};
    for (const auto& [args, env] : cases) {
        const std::string form = args.empty() ? "(none)" : "\"" + args[0] + "\"";
        RunResult r = in.run(args, std::chrono::seconds(1), env);
        EXPECT_FALSE(r.timedOut) << form;
        EXPECT_EQ(r.exitCode, 2) << form;
        EXPECT_TRUE(contains(r.err, "sem tela: ")) << form << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "Uso: atualizavela-movel")) << form << ": " << r.err;
        EXPECT_FALSE(contains(r.err, "none.ini")) << form << ": " << r.err;
        EXPECT_EQ(r.out, "") << form;
        EXPECT_FALSE(fs::exists(in.logPath()));
        EXPECT_FALSE(fs::exists(in.mobilePath));
    }
}

TEST(App, MaquinasTxtNamesTheSourceFolder) {
    Installation in;
    in.startFtp();
    in.createSource(kStates);
    const std::string dados = in.dir / "Cota\xc3\xa7\xc3\xb5"
                                       "es"; // UTF-8, as the file system holds it
    fs::create_directory(dados);
    fs::rename(in.sourcePath, dados + "/BANCODADOS.FDB");
    // The settings' source no longer exists: only maquinas.txt can lead to the database.
    // An empty database where the settings point, for the run without maquinas.txt below.
    in.createSource("");

    // Written on Windows in its code page: the CR is not part of the folder; only the first line
    // counts.
    writeFile(in.dir / "maquinas.txt", "present");
    writeFile(in.mobileFolder + "/maquinas.txt", in.dir / "Cota\xe7\xf5"
                                                          "es\r\nsecond line\r\n");
    RunResult r = in.run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "2");

    // Saved as UTF-8 by a current editor; a trailing separator doubles it, which the file system
    // takes all the same.
    writeFile(in.mobileFolder + "/maquinas.txt", dados + "/\n");
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
    // The journal has it too, once.
    EXPECT_EQ(occurrences(r.err, "Dynamic SQL Error\n-SQL error code = -204\n-Table unknown\n"), 1u) << r.err;
    EXPECT_TRUE(contains(r.out, " s; falhou: Dynamic SQL Error -SQL error code = -204 -Table unknown -ESTADO "
                                "-At line 1, column 13\n"))
        << r.out;
    const QJsonObject record = runRecord(in.dir.path());
    EXPECT_EQ(record["result"].toString(), "failed");
    EXPECT_EQ(record["exit_status"].toInt(), 1);
    EXPECT_EQ(record["step"].toInt(), 1);
    EXPECT_EQ(record["message"].toString(),
              "Dynamic SQL Error\n-SQL error code = -204\n-Table unknown\n-ESTADO\n-At line 1, column 13");
    EXPECT_EQ(record["tables"].toArray().size(), 1);
    EXPECT_TRUE(record["file"].isNull());
    EXPECT_TRUE(record["upload"].isNull());
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
    EXPECT_EQ(occurrences(r.err, "Cannot create file \"" + in.logPath() + "\". Is a directory\n"), 1u) << r.err;
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
    // good's lines: [paths], mobile_folder, source_database, [ftp], host, port.
    auto edited = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::string badPort = edited("port=", "port=abc\n;");
    const std::string folder = "mobile_folder=" + in.mobileFolder;
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
        // A misspelt key would otherwise leave the program's own account in use.
        {"password misspelt",
         good + "pasword=segredo\n",
         fs::perms(0640),
         {},
         "Chave desconhecida em [ftp] linha 7: pasword (password?) no arquivo \"" + ini + "\""},
        {"host misspelt",
         edited("host=", "hots="),
         fs::perms(0644),
         {},
         "Chave desconhecida em [ftp] linha 5: hots (host?)"},
        {"section misspelt",
         edited("[ftp]", "[fpt]"),
         fs::perms(0644),
         {},
         "Se\xc3\xa7\xc3\xa3o desconhecida na linha 4: [fpt] ([ftp]?) no arquivo \"" + ini + "\""},
        {"saved as Windows-1252",
         edited(folder, folder + "/Cota\xe7\xf5"
                                 "es"),
         fs::perms(0644),
         {},
         "\"" + ini + "\": a linha 2 n\xc3\xa3o est\xc3\xa1 em UTF-8; salve o arquivo como UTF-8"},
        // curl would then wait for a silent server for ever.
        {"timeout zero", good + "timeout=0\n", fs::perms(0644), {}, "Valor inv\xc3\xa1lido em [ftp] timeout: 0"},
    };
    for (const Case& c : cases) {
        writeFile(ini, c.content);
        fs::permissions(ini, c.mode);
        ASSERT_EQ(::chown(ini.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        RunResult r = in.run({"EXECUTAR"}, std::chrono::seconds(120), c.env);
        EXPECT_EQ(r.exitCode, 2) << c.name;
        EXPECT_TRUE(contains(r.err, c.message)) << c.name << ": " << r.err;
        EXPECT_FALSE(fs::exists(in.logPath())) << c.name;
        EXPECT_EQ(std::distance(fs::directory_iterator(in.mobileFolder + "/Banco"), fs::directory_iterator()), 1)
            << c.name << ": only the template";
        EXPECT_TRUE(fs::is_empty(in.ftpServer->downloads() / vela::test::kTestCompany)) << c.name;
    }
    // No case got as far as the server.
    EXPECT_EQ(countLines(in.ftpServer->stopAndReadLog(), "USER "), 0);
    fs::permissions(ini, fs::perms(0644));
    ASSERT_EQ(::chown(ini.c_str(), 0, static_cast<gid_t>(-1)), 0);
    in.startFtp({"--make-folders"});
    EXPECT_EQ(in.run().exitCode, 0);
}

TEST(Settings, WhatIsReadIsWhatWasMeant) {
    TempDir dir;
    const std::string key = dir / "id_ed25519";
    writeFile(key, "not read here");
    int files = 0;
    auto load = [&](const std::string& text, fs::perms mode = fs::perms(0600)) {
        // A file of its own each time: QSettings keeps what it read of a path while its size and
        // time stay the same.
        const std::string ini = dir / (std::to_string(++files) + ".ini");
        writeFile(ini, text);
        fs::permissions(ini, mode);
        return vela::loadSettingsFrom(QString::fromStdString(ini));
    };
    auto refusal = [&](const std::string& text) -> std::string {
        try {
            load(text);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "accepted";
    };

    // A byte-order mark, CR LF, comments, blanks around names, a quoted value holding , and ;, a
    // line going on in the next: all read as before.
    vela::AppSettings s = load("\xef\xbb\xbf; the settings\r\n[paths]\r\nmobile_folder = /m/Cota\xc3\xa7\xc3\xb5"
                               "es ; where\r\n[ftp] ; the server\r\n  host=h\\\r\nost\r\npassword=\"a,b;c\"\r\n"
                               "owner_check=off\r\n[paths]\r\nmetrics_file=/var/lib/x.prom\r\n");
    EXPECT_EQ(s.mobileFolder.toStdString(), "/m/Cota\xc3\xa7\xc3\xb5"
                                            "es");
    EXPECT_EQ(s.ftpHost.toStdString(), "host");
    EXPECT_EQ(s.ftpPassword.value_or(QString()).toStdString(), "a,b;c");
    EXPECT_FALSE(s.ftpOwnerCheck);
    EXPECT_EQ(s.metricsFile.toStdString(), "/var/lib/x.prom");
    EXPECT_TRUE(load("[ftp]\nowner_check=on\n").ftpOwnerCheck);
    EXPECT_TRUE(load("").ftpOwnerCheck);

    const std::pair<std::string, std::string> refused[] = {
        {"[ftp]\nHost=h\n", "Chave desconhecida em [ftp] linha 2: Host (host?)"},
        {"[paths]\nuser=x\n", "Chave desconhecida em [paths] linha 2: user ([source] user?)"},
        {"host=h\n", "Chave fora de se\xc3\xa7\xc3\xa3o na linha 1: host ([ftp] host?)"},
        {"[General]\n", "Se\xc3\xa7\xc3\xa3o desconhecida na linha 1: [General]"},
        {"[ftp]\n#host=h\n", "Chave desconhecida em [ftp] linha 2: #host (host?)"},
        {"[ftp]\nho%73t=h\n", "Chave desconhecida em [ftp] linha 2: ho%73t (host?)"},
        {"[ftp]\nowner_check=yes\n", "Valor inv\xc3\xa1lido em [ftp] owner_check: yes"},
        {"[ftp]\r\n\r\nhost=\xe9\r\n", "a linha 3 n\xc3\xa3o est\xc3\xa1 em UTF-8"},
    };
    for (const auto& [text, message] : refused)
        EXPECT_TRUE(contains(refusal(text), message)) << text << ": " << refusal(text);

    // Every range at both of its ends.
    struct Range {
        std::string key;
        long long min, max;
    };
    for (const Range& r : {Range{"port", 1, 65535}, Range{"timeout", 1, 86400}, Range{"retries", 0, 100},
                           Range{"retry_wait", 0, 86400}, Range{"max_rate", 0, 1 << 30}})
        for (long long v : {r.min - 1, r.min, r.max, r.max + 1}) {
            const std::string text = "[ftp]\n" + r.key + "=" + std::to_string(v) + "\n";
            const bool inside = v >= r.min && v <= r.max;
            EXPECT_EQ(refusal(text) == "accepted", inside) << text << refusal(text);
            if (!inside) {
                EXPECT_TRUE(
                    contains(refusal(text), "Valor inv\xc3\xa1lido em [ftp] " + r.key + ": " + std::to_string(v)));
            }
        }

    // An SFTP key its owner alone may read or change: any bit for the group or others refuses it.
    for (unsigned mode : {0600u, 0400u, 0640u, 0604u, 0620u, 0602u, 0610u, 0601u}) {
        fs::permissions(key, fs::perms(mode));
        const std::string result = refusal("[ftp]\nprotocol=sftp\nkey_file=" + key + "\n");
        EXPECT_EQ(result == "accepted", (mode & 077) == 0) << std::oct << mode << ": " << result;
    }
}

TEST(App, CheckTriesTheSourceAndTheServerAndChangesNothing) {
    Installation in;
    FtpTestServer& ftp = in.startFtp();
    fs::create_directories(ftp.downloads() / "CasadoNo");
    in.createSource("insert into empresa (tid, ativo, razaosocial, nomefantasia, tipoempresa) "
                    "values (1, 1, 'R', 'Casa do Norte', 'E');\n" +
                    kStates);
    const std::string ini = in.dir / "atualizavela-movel.ini";
    const std::string good = readFile(ini);
    // Every file but the ones the test itself changes (the engine writes the source's header).
    auto everything = [&] {
        std::map<std::string, std::string> files;
        for (const fs::path& root : {fs::path(in.dir.path()), ftp.home()})
            for (const auto& e : fs::recursive_directory_iterator(root)) {
                const std::string name = e.path().filename().string();
                if (name != "stdout.txt" && name != "stderr.txt" && name != "backoffice.fdb" &&
                    name != "atualizavela-movel.ini")
                    files[e.path().string()] = e.is_regular_file() ? readFile(e.path()) : "folder";
            }
        return files;
    };
    const auto before = everything();
    const std::string server = "Servidor: ftp://127.0.0.1:" + std::to_string(ftp.port()) + " (sem TLS): ";
    const std::string source = "Banco de retaguarda: " + in.sourcePath;
    struct Case {
        std::string name;
        std::string settings;
        int status;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"all well",
         good,
         0,
         {"Configura\xc3\xa7\xc3\xa3o: " + ini + " lida e conferida\n", source + " aberto; empresa: Casa do Norte\n",
          "Pasta remota: /www/downloads/CasadoNo/\n", server + "conectado, login aceito\n",
          "Pasta no servidor: /www/downloads/CasadoNo/ existe, ainda sem o banco publicado",
          "Resultado: tudo certo\n"}},
        {"source missing",
         replaceAll(good, in.sourcePath, in.dir / "none.fdb"),
         1,
         {"Banco de retaguarda: " + (in.dir / "none.fdb") + ": falhou: ", server + "conectado, login aceito\n",
          "Resultado: h\xc3\xa1 problemas"}},
        {"login refused",
         good + "user=someone\npassword=wrong\n",
         1,
         {source + " aberto; empresa: Casa do Norte\n", server + "falhou: 127.0.0.1: 530 "}},
        {"server gone",
         replaceAll(good, "port=" + std::to_string(ftp.port()), "port=1"),
         1,
         {"Servidor: ftp://127.0.0.1:1 (sem TLS): falhou: "}},
        {"settings refused",
         good + "pasword=x\n",
         2,
         {"Configura\xc3\xa7\xc3\xa3o: recusada: Chave desconhecida em [ftp] linha 7: pasword (password?)"}},
    };
    for (const Case& c : cases) {
        writeFile(ini, c.settings);
        fs::permissions(ini, fs::perms(0640));
        RunResult r = in.run({"--check"}, std::chrono::seconds(60));
        EXPECT_EQ(r.exitCode, c.status) << c.name << ": " << r.out << r.err;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(contains(r.out, line)) << c.name << ": " << line << "\n" << r.out;
        EXPECT_EQ(r.err, "") << c.name;
    }
    // The folder missing on the server.
    writeFile(ini, good);
    fs::remove(ftp.downloads() / "CasadoNo");
    RunResult r = in.run({"--check"}, std::chrono::seconds(60));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.out, "Pasta no servidor: /www/downloads/CasadoNo/ n\xc3\xa3o existe")) << r.out;
    fs::create_directories(ftp.downloads() / "CasadoNo");

    EXPECT_EQ(everything(), before);
    const std::string log = ftp.stopAndReadLog();
    for (const char* command : {"STOR", "DELE", "RNFR", "MKD", "APPE"})
        EXPECT_EQ(countLines(log, command), 0) << command;
    EXPECT_GE(countLines(log, "NLST"), 1);
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
    const Case cases[] = {{{}, {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":99"}, {"LD_LIBRARY_PATH", in.dir / "lib"}}},
                          // Unattended with a display shows the window too.
                          {{"EXECUTAR"}, {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":99"}}},
                          // Nor in the working folder: the program started from a folder where
                          // someone planted a library of that name.
                          {{"EXECUTAR"}, {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":99"}}}};
    for (const Case& c : cases) {
        if (&c == &cases[2]) {
            fs::create_directory(in.dir / "bin");
            fs::rename(in.exe, in.dir / "bin/atualizavela-movel");
            in.exe = in.dir / "bin/atualizavela-movel";
            fs::rename(in.dir / "lib/atualizavela-movel-janela.so", beside);
        }
        const std::string expected = fs::path(in.exe).parent_path() / "atualizavela-movel-janela.so";
        RunResult r = in.run(c.args, std::chrono::seconds(20), c.env);
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(
            contains(r.err, "N\xc3\xa3o foi poss\xc3\xadvel carregar a janela do programa: \"" + expected + "\": "))
            << r.err;
        EXPECT_TRUE(contains(r.err, "\"" + installed + "\": ")) << r.err;
        EXPECT_TRUE(contains(r.err, "No such file or directory")) << r.err;
        EXPECT_FALSE(fs::exists(in.logPath()));
        EXPECT_EQ(std::distance(fs::directory_iterator(in.mobileFolder + "/Banco"), fs::directory_iterator()), 1)
            << "only the template";
    }
}
