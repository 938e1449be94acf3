// The upload step end to end: the real binary, a real FTP server on 127.0.0.1.
#include "app/Gauge.h"
#include "app/principal.h"
#include "db/ModuloDadosCadastro.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

using namespace vela::test;
namespace fs = std::filesystem;

namespace {

std::string company(const std::string& tradeName) {
    return "insert into empresa (tid, ativo, razaosocial, nomefantasia, tipoempresa) values (1, 1, 'R', '" + tradeName +
           "', 'E');\n";
}

// A database published by an earlier run, which a failed upload must leave as it was.
const std::string kPrevious = "previous complete database";

void publishPrevious(FtpTestServer& ftp, const std::string& folder) {
    fs::create_directories(ftp.downloads() / folder);
    writeFile(ftp.downloads() / folder / "BANCODADOS.gdb", kPrevious);
}

// Whether the folder holds a database under a temporary name (not the owner file's).
bool temporaryIn(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".part" && !contains(entry.path().string(), ".empresa."))
            return true;
    return false;
}

// Makes the installation start its program in a process id namespace of its own, where it is
// process 1, as in a container.
void runAsProcessOne(Installation& in) {
    const std::string wrapper = in.dir / "as-process-one";
    writeFile(wrapper, "#!/bin/sh\nexec unshare --pid --fork '" + in.exe + "' \"$@\"\n");
    fs::permissions(wrapper, fs::perms(0755));
    in.exe = wrapper;
}

void expectPreviousKept(FtpTestServer& ftp, const std::string& folder) {
    EXPECT_EQ(readFile(ftp.downloads() / folder / "BANCODADOS.gdb"), kPrevious);
    EXPECT_FALSE(temporaryIn(ftp.downloads() / folder));
}

// The lines after the last table copy's block.
std::vector<std::string> uploadLines(const std::string& log) {
    std::vector<std::string> lines = logLines(log);
    auto end = std::find(lines.begin(), lines.end(), "Finalizando Tabela CVF");
    return std::vector<std::string>(end == lines.end() ? lines.end() : end + 2, lines.end());
}

} // namespace

TEST(UploadStep, SendsTheMobileDatabaseByteForByteIntoTheCompanysFolder) {
    Installation in;
    FtpTestServer& ftp = in.startFtp();
    fs::create_directories(ftp.downloads() / "CasadoNo");
    in.createSource(company("Casa do Norte Comercial"));
    RunResult r = in.run();
    ASSERT_EQ(r.exitCode, 0) << r.err;

    std::string local = readFile(in.mobilePath);
    EXPECT_EQ(readFile(ftp.downloads() / "CasadoNo" / "BANCODADOS.gdb"), local);
    for (const char* curls : {"Content-Length", "Accept-ranges"})
        EXPECT_EQ(r.out.find(curls), std::string::npos) << r.out;

    // One line per progress report, growing to the file's size, then the closing line.
    std::vector<std::string> lines = uploadLines(in.log());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "Exporta\xe7\xe3o Conclu\xed"
                                       "da.");
    EXPECT_EQ(lines.back(), "Salvando log em: " + in.logPath());
    long long previous = 0;
    for (size_t i = 0; i + 2 < lines.size(); ++i) {
        long long n = std::stoll(lines[i]);
        EXPECT_GT(n, previous) << lines[i];
        previous = n;
    }
    EXPECT_EQ(previous, static_cast<long long>(local.size()));
}

TEST(UploadStep, ARefusedLoginIsLoggedAndTheUnattendedRunFails) {
    Installation in;
    in.startFtp({"--password", "another"});
    in.createSource(company("Bela"));
    RunResult r = in.run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "530")) << r.err;
    std::vector<std::string> lines = uploadLines(in.log());
    ASSERT_EQ(lines.size(), 1u); // the server's refusal, nothing else
    EXPECT_TRUE(contains(lines[0], "530")) << lines[0];
}

TEST(UploadStep, FailedStoresAreLoggedSavedAndEndTheProgram) {
    struct Case {
        const char* name;
        std::string tradeName;
        std::vector<std::string> faults;
        std::string expected;
    };
    for (const Case& c : {Case{"missing folder", "Bela", {}, "550"},
                          Case{"unsafe name", "../etc", {}, "Pasta remota inv\xe1lida: ../etc"},
                          Case{"dropped session", "Bela", {"--drop-after", "200000"}, ""},
                          Case{"data connection closed early", "Bela", {"--close-data-after", "200000"}, ""}}) {
        SCOPED_TRACE(c.name);
        Installation in;
        FtpTestServer& ftp = in.startFtp(c.faults);
        if (c.faults.size())
            publishPrevious(ftp, "Bela");
        in.createSource(company(c.tradeName));
        RunResult r = in.run();
        EXPECT_EQ(r.exitCode, 1) << r.err;
        if (c.faults.size())
            expectPreviousKept(ftp, "Bela");
        std::vector<std::string> lines = uploadLines(in.log());
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(contains(lines.back(), c.expected)) << lines.back();
        EXPECT_FALSE(contains(lines.back(), "Salvando log em"));
        EXPECT_FALSE(fs::exists(ftp.home() / "etc"));
    }
}

TEST(UploadStep, AnEmptyFileLeavesTheGaugeAtZeroOfZero) {
    static int argc = 1;
    static char name[] = "test_upload";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    Installation in;
    FtpTestServer& ftp = in.startFtp();
    fs::create_directories(ftp.downloads() / "Bela");
    in.createSource(company("Bela"));
    writeFile(in.mobilePath, "");

    vela::AppSettings settings;
    settings.mobileFolder = QString::fromStdString(in.mobileFolder);
    settings.sourceDatabase = QString::fromStdString(in.sourcePath);
    settings.ftpHost = QStringLiteral("127.0.0.1");
    settings.ftpPort = ftp.port();
    vela::TfrmPrincipal w(settings);
    vela::TDMSistemaCadastro dm({in.sourcePath, in.mobilePath});
    w.setDataModule(&dm);
    w.Button3Click();
    EXPECT_EQ(w.Gauge1->maxValue(), 0);
    EXPECT_EQ(w.Gauge1->progress(), 0);
    EXPECT_EQ(w.runLog().lines().last(), QStringLiteral("Exportação Concluída."));
    EXPECT_EQ(readFile(ftp.downloads() / "Bela" / "BANCODADOS.gdb"), "");
    EXPECT_FALSE(w.ended());
}

TEST(UploadStep, TheStoredSizeIsCheckedWhereTheServerTellsIt) {
    for (bool withSize : {true, false}) {
        SCOPED_TRACE(withSize ? "SIZE off by one" : "no SIZE");
        Installation in;
        FtpTestServer& ftp = in.startFtp(withSize ? std::vector<std::string>{"--size-offset", "-1"}
                                                  : std::vector<std::string>{"--no-size"});
        publishPrevious(ftp, "Bela");
        in.createSource(company("Bela"));
        RunResult r = in.run();
        std::vector<std::string> lines = uploadLines(in.log());
        ASSERT_FALSE(lines.empty());
        if (withSize) {
            const std::string size = std::to_string(fs::file_size(in.mobilePath));
            EXPECT_EQ(r.exitCode, 1);
            expectPreviousKept(ftp, "Bela");
            // The server and the path, then what differs.
            EXPECT_TRUE(lines.back().starts_with("127.0.0.1: /www/downloads/Bela/BANCODADOS.gdb.")) << lines.back();
            EXPECT_TRUE(endsWith(lines.back(), ".part: Tamanho remoto difere do local: " +
                                                   std::to_string(std::stoll(size) - 1) + " / " + size))
                << lines.back();
        } else {
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(lines.back(), "Salvando log em: " + in.logPath());
        }
    }
}

TEST(UploadStep, AServerDiskThatFillsUpFailsTheStore) {
    Installation in;
    FtpTestServer& ftp = in.startFtp();
    fs::path folder = ftp.downloads() / "Bela";
    fs::create_directories(folder);
    if (std::system(("mount -t tmpfs -o size=512k tmpfs '" + folder.string() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    in.createSource(company("Bela"));
    // The test server sometimes stops answering once its disk is full, where a real one says 452:
    // the time-out ends that as well, and need not be a minute here.
    in.ftpKeys = "timeout=3\n";
    in.writeSettings();
    RunResult r = in.run();
    std::system(("umount '" + folder.string() + "'").c_str());
    EXPECT_EQ(r.exitCode, 1);
    std::vector<std::string> lines = uploadLines(in.log());
    ASSERT_FALSE(lines.empty());
    EXPECT_FALSE(contains(lines.back(), "Salvando log em")) << lines.back();
    EXPECT_FALSE(contains(lines.back(), "Exporta")) << lines.back();
}

TEST(UploadStep, AServerThatNeverAnswersEndsTheWaitAfterTheTimeoutOfTheSettings) {
    Installation in;
    in.ftpKeys = "timeout=2\n";
    in.startFtp({"--ignore-pass"});
    in.createSource(company("Bela"));
    auto started = std::chrono::steady_clock::now();
    RunResult r = in.run({"EXECUTAR"}, std::chrono::seconds(150));
    auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_GE(waited, std::chrono::seconds(2));
    std::vector<std::string> lines = uploadLines(in.log());
    ASSERT_EQ(lines.size(), 1u);
    // The connect and reply limits are the same; which of them curl reports first depends on
    // timing (a slow build, under the sanitizers, gets the reply limit's message).
    EXPECT_TRUE(contains(lines[0], "imed out") || contains(lines[0], "server response timeout")) << lines[0];
}

TEST(UploadStep, TradeNamesBecomeFoldersOrAreRefused) {
    struct Case {
        std::string tradeName; // Windows-1252, as the back office stores it
        std::string folder;    // UTF-8 on the server; empty: refused
    };
    for (const Case& c : {Case{"  Loja Azul Ltda", "LojaAzu"},
                          Case{"A\xe7"
                               "a\xed Doces",
                               "A\u00e7a\u00ed"
                               "Doces"},
                          Case{"Sul/Norte", ""}, Case{"   ", ""},
                          Case{"ab\x01"
                               "cd",
                               ""}}) {
        SCOPED_TRACE(c.tradeName);
        Installation in;
        FtpTestServer& ftp = in.startFtp();
        if (!c.folder.empty())
            fs::create_directories(ftp.downloads() / c.folder);
        in.createSource(company(c.tradeName));
        RunResult r = in.run();
        std::vector<std::string> lines = uploadLines(in.log());
        ASSERT_FALSE(lines.empty());
        if (c.folder.empty()) {
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_TRUE(contains(lines.back(), "Pasta remota inv\xe1lida: ")) << lines.back();
        } else {
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(readFile(ftp.downloads() / c.folder / "BANCODADOS.gdb"), readFile(in.mobilePath));
        }
    }
}

TEST(UploadStep, DevicesPollingTheServerSeeOnlyWholeDatabases) {
    Installation in;
    FtpTestServer& ftp = in.startFtp({"--throttle", "4000000"});
    publishPrevious(ftp, "Bela");
    in.createSource(company("Bela"));
    const fs::path published = ftp.downloads() / "Bela" / "BANCODADOS.gdb";
    std::atomic<bool> done = false;
    std::atomic<bool> sawTemporary = false;
    std::set<std::string> seen;
    std::thread device([&] {
        while (!done) {
            sawTemporary = sawTemporary || temporaryIn(published.parent_path());
            seen.insert(readFile(published));
        }
    });
    RunResult r = in.run();
    done = true;
    device.join();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(sawTemporary); // else the upload was too quick to tell anything
    EXPECT_EQ(seen, (std::set<std::string>{kPrevious, readFile(in.mobilePath)}));
    EXPECT_FALSE(temporaryIn(published.parent_path()));
}

TEST(UploadStep, TheAccountOfTheSettingsIsUsedOnlyFromAFileOthersCannotRead) {
    Installation in;
    in.ftpKeys = "user=vela\npassword=\"s3,cr;et\"\n";
    FtpTestServer& ftp = in.startFtp({"--user", "vela", "--password", "s3,cr;et"});
    fs::create_directories(ftp.downloads() / "Bela");
    in.createSource(company("Bela"));
    const std::string ini = in.dir / "atualizavela-movel.ini";
    fs::permissions(ini, fs::perms(0644));
    RunResult refused = in.run();
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(contains(refused.err, "\"" + ini + "\" tem o modo 0644")) << refused.err;
    EXPECT_FALSE(fs::exists(ftp.downloads() / "Bela" / "BANCODADOS.gdb"));

    fs::permissions(ini, fs::perms(0640));
    RunResult r = in.run();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(ftp.downloads() / "Bela" / "BANCODADOS.gdb"), readFile(in.mobilePath));
}

TEST(UploadStep, WhatAnEarlierRunLeftDoesNotFailTheRunOnAServerThatRefusesOverwrites) {
    Installation in;
    FtpTestServer& ftp = in.startFtp({"--refuse-overwrite", "--refuse-rename-over"});
    publishPrevious(ftp, "Bela");
    // Written before the published file was: no live upload.
    for (const char* left : {"BANCODADOS.gdb.part", "BANCODADOS.gdb.4242.part"}) {
        writeFile(ftp.downloads() / "Bela" / left, "half");
        fs::last_write_time(ftp.downloads() / "Bela" / left, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    in.createSource(company("Bela"));
    RunResult r = in.run();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(ftp.downloads() / "Bela" / "BANCODADOS.gdb"), readFile(in.mobilePath));
    EXPECT_FALSE(temporaryIn(ftp.downloads() / "Bela"));
}

TEST(UploadStep, TwoRunsWithTheSameProcessIdPublishingAtOnceLeaveEachOthersUploadAlone) {
    if (std::system("unshare --pid --fork true 2>/dev/null") != 0)
        GTEST_SKIP() << "no process id namespaces here";
    // Two installations of one company (a second machine, a test server), each its own database.
    Installation a;
    Installation b;
    FtpTestServer& ftp = a.startFtp({"--throttle", "1000000"});
    publishPrevious(ftp, "Bela");
    b.ftpHost = a.ftpHost;
    b.ftpPort = a.ftpPort;
    b.writeSettings();
    a.createSource(company("Bela"));
    b.createSource("insert into empresa (tid, ativo, razaosocial, nomefantasia, tipoempresa) "
                   "values (1, 1, 'Outra maquina', 'Bela', 'E');\n");
    runAsProcessOne(a);
    runAsProcessOne(b);
    // B starts while A is storing.
    RunResult ra;
    std::thread first([&] { ra = a.run(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!temporaryIn(ftp.downloads() / "Bela") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    RunResult rb = b.run();
    first.join();
    EXPECT_EQ(ra.exitCode, 0) << ra.err;
    EXPECT_EQ(rb.exitCode, 0) << rb.err;
    const std::string published = readFile(ftp.downloads() / "Bela" / "BANCODADOS.gdb");
    EXPECT_TRUE(published == readFile(a.mobilePath) || published == readFile(b.mobilePath));
    EXPECT_NE(readFile(a.mobilePath), readFile(b.mobilePath));
    EXPECT_FALSE(temporaryIn(ftp.downloads() / "Bela"));
}

TEST(UploadStep, TheLocalBuildsFolderIsFlushedAfterItsRename) {
    Installation in;
    FtpTestServer& ftp = in.startFtp();
    fs::create_directories(ftp.downloads() / "Bela");
    in.createSource(company("Bela"));
    // The program under strace, which records the renames and flushes with the paths of their files.
    const std::string trace = in.dir / "trace.txt";
    const std::string wrapper = in.dir / "traced";
    writeFile(wrapper, "#!/bin/sh\nexec strace -f -qq -y -e trace=rename,renameat,renameat2,fsync,fdatasync -o '" +
                           trace + "' '" + in.exe + "' \"$@\"\n");
    fs::permissions(wrapper, fs::perms(0755));
    in.exe = wrapper;
    if (std::system("strace -qq -o /dev/null true 2>/dev/null") != 0)
        GTEST_SKIP() << "strace cannot trace here";
    RunResult r = in.run();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string banco = fs::path(in.mobilePath).parent_path().string();
    bool renamed = false;
    bool flushedAfter = false;
    std::istringstream lines(readFile(trace));
    for (std::string line; std::getline(lines, line);) {
        if (contains(line, "rename") && contains(line, ".tmp\"") && contains(line, "/BANCODADOS.gdb\""))
            renamed = true;
        else if (renamed && contains(line, "fsync(") && contains(line, "<" + banco + ">"))
            flushedAfter = true;
    }
    EXPECT_TRUE(renamed);
    EXPECT_TRUE(flushedAfter);
}

TEST(UploadStep, AFolderOfAnotherCompanyIsRefusedUnlessTheOwnerCheckIsOff) {
    Installation in;
    FtpTestServer& ftp = in.startFtp();
    const fs::path folder = ftp.downloads() / "Distribuid";
    fs::create_directories(folder);
    writeFile(folder / "BANCODADOS.gdb", kPrevious);
    writeFile(folder / "BANCODADOS.gdb.empresa", "nomefantasia=Distribuidora Alfa\ntid=1\n");
    in.createSource(company("Distribuidora Beta"));
    RunResult r = in.run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.out + r.err, "A pasta Distribuid j\xc3\xa1 recebe o banco de 'Distribuidora Alfa'"))
        << r.out;
    EXPECT_EQ(readFile(folder / "BANCODADOS.gdb"), kPrevious);

    in.ftpKeys = "owner_check=off\n";
    in.writeSettings();
    r = in.run();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(folder / "BANCODADOS.gdb"), readFile(in.mobilePath));
    EXPECT_EQ(readFile(folder / "BANCODADOS.gdb.empresa"), "nomefantasia=Distribuidora Beta\ntid=1\n");
}
