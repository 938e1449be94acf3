// The upload over SFTP end to end: the real binary, the tests' own OpenSSH server on 127.0.0.1.
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/SshServer.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vela::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kCompany = "insert into empresa (tid, ativo, razaosocial, nomefantasia, tipoempresa) "
                             "values (1, 1, 'R', 'Bela', 'E');\n";
const std::string kPrevious = "previous complete database";
const std::string kDone = "Exporta\xe7\xe3o Conclu\xed"
                          "da.";

bool temporaryIn(const fs::path& folder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().extension() == ".part" && !contains(entry.path().string(), ".empresa."))
            return true;
    return false;
}

std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        found.insert(entry.path().filename().string());
    return found;
}

class SftpRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string reason = SshServer::unavailable(); !reason.empty())
            GTEST_SKIP() << reason;
        server_.emplace();
        folder_ = server_->downloads() / "Bela";
        fs::create_directories(folder_);
        writeFile(folder_ / "BANCODADOS.gdb", kPrevious);
        in_.createSource(kCompany);
        in_.ftpHost = "127.0.0.1";
        in_.ftpPort = server_->port();
        configure("host_key_sha256=" + server_->hostKeyFingerprint() + "\n");
    }

    // The SFTP keys with the account's key, and the ones a test varies.
    void configure(const std::string& keys) {
        in_.ftpKeys = "protocol=sftp\nuser=root\nkey_file=" + server_->settings().keyFile + "\ntimeout=10\n" + keys;
        in_.writeSettings();
    }

    fs::path published() const { return folder_ / "BANCODADOS.gdb"; }

    Installation in_;
    std::optional<SshServer> server_;
    fs::path folder_;
};

} // namespace

TEST_F(SftpRun, PublishesByteForByteThroughTheSwapAndNeverShowsHalfAFile) {
    // The host key from a known_hosts file this time.
    writeFile(in_.dir / "known_hosts", server_->knownHostsLine());
    configure("known_hosts=" + in_.dir / "known_hosts" + "\nmax_rate=4096\n");
    std::atomic<bool> done = false;
    std::atomic<bool> sawTemporary = false;
    std::set<size_t> seen; // what the device read, hashed: a failure must not print a database
    std::thread device([&] {
        while (!done) {
            sawTemporary = sawTemporary || temporaryIn(folder_);
            // OpenSSH renames onto no existing file: between the swap's two renames the name is
            // briefly free, never held by part of a file.
            std::ifstream file(published(), std::ios::binary);
            if (file)
                seen.insert(std::hash<std::string>{}(std::string(std::istreambuf_iterator<char>(file), {})));
        }
    });
    RunResult r = in_.run();
    done = true;
    device.join();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string local = readFile(in_.mobilePath);
    EXPECT_EQ(readFile(published()), local);
    EXPECT_TRUE(sawTemporary); // else the upload was too quick to tell anything
    EXPECT_EQ(seen, (std::set<size_t>{std::hash<std::string>{}(kPrevious), std::hash<std::string>{}(local)}));
    EXPECT_EQ(names(folder_), (std::set<std::string>{"BANCODADOS.gdb", "BANCODADOS.gdb.empresa"}));

    // The same lines as over FTP: the growing byte counts, then the closing line.
    std::vector<std::string> lines = logLines(in_.log());
    const auto last = std::find(lines.begin(), lines.end(), kDone);
    ASSERT_NE(last, lines.end()) << in_.log();
    EXPECT_EQ(*(last - 1), std::to_string(local.size()));
}

TEST_F(SftpRun, AnUncheckedOrWrongHostKeyFailsStep2BeforeAnyUpload) {
    const std::string offered =
        "[127.0.0.1]:" + std::to_string(server_->port()) + " oferece " + server_->hostKeyFingerprint();
    const std::string other = fingerprintOf(server_->makeKey("other_key") + ".pub");
    for (const std::string& keys : {std::string(), "host_key_sha256=" + other + "\n"}) {
        SCOPED_TRACE(keys);
        configure(keys);
        RunResult r = in_.run();
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(contains(r.err, offered)) << r.err;
        EXPECT_TRUE(contains(in_.log(), "Finalizando Tabela CVF")); // step 1 ran
        EXPECT_EQ(names(folder_), std::set<std::string>{"BANCODADOS.gdb"});
        EXPECT_EQ(readFile(published()), kPrevious);
    }
    EXPECT_EQ(countLines(server_->stopAndReadLog(), "Accepted publickey"), 0);
}

TEST_F(SftpRun, SettingsTheUploadCannotUseAreRefusedAtStart) {
    const std::string key = server_->settings().keyFile;
    fs::permissions(key, fs::perms(0644));
    RunResult r = in_.run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "\"" + key + "\" tem o modo 0644")) << r.err;
    EXPECT_FALSE(fs::exists(in_.logPath()) && contains(in_.log(), "Finalizando Tabela CVF"));
    fs::permissions(key, fs::perms(0600));

    in_.ftpKeys = "protocol=scp\n";
    in_.writeSettings();
    r = in_.run();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.err, "Valor inv\xc3\xa1lido em [ftp] protocol: scp")) << r.err;
    EXPECT_EQ(readFile(published()), kPrevious);
}

TEST_F(SftpRun, AStopMidUploadLeavesTheOldFileAndNoTemporaryOne) {
    configure("host_key_sha256=" + server_->hostKeyFingerprint() + "\nmax_rate=64\n");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, in_.dir.path().c_str());
    posix_spawn_file_actions_addopen(&actions, 2, (in_.dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string exe = in_.exe, arg = "EXECUTAR";
    char* argv[] = {exe.data(), arg.data(), nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!temporaryIn(folder_) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    // The server stops answering mid-store, and the run is stopped meanwhile.
    server_->freezeSessions(true);
    ::kill(pid, SIGTERM);
    const auto stopped = std::chrono::steady_clock::now();
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 10s + 5s); // the timeout and the clean-up
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << readFile(in_.dir / "stderr.txt");
    EXPECT_EQ(logLines(in_.log()).back(), "Execu\xe7\xe3o interrompida.");
    EXPECT_EQ(names(folder_), (std::set<std::string>{"BANCODADOS.gdb", "BANCODADOS.gdb.empresa"}));
    EXPECT_EQ(readFile(published()), kPrevious);
}
