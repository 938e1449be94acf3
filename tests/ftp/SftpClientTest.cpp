#include "publish/SftpClient.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/SshServer.h"
#include "tests/support/TestEnv.h"

#include "common/Error.h"

#include <arpa/inet.h>
#include <atomic>
#include <curl/curl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vela {
namespace {

namespace fs = std::filesystem;
using test::countLines;
using test::readFile;
using test::SshServer;
using test::TempDir;
using test::writeFile;

const std::string kTarget = "/www/downloads/CasadoNo/BANCODADOS.gdb";
const std::string kTemporary = kTarget + ".part";

std::string randomBytes(std::size_t size) {
    std::mt19937 random(20240602);
    std::string bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random() & 0xFF);
    return bytes;
}

struct Stop {};

class Sftp : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string reason = SshServer::unavailable(); !reason.empty())
            GTEST_SKIP() << reason;
        server_.emplace();
        fs::create_directories(server_->downloads() / "CasadoNo");
    }

    std::string localFile(const std::string& bytes) {
        const std::string path = local_ / "BANCODADOS.gdb";
        writeFile(path, bytes);
        return path;
    }

    fs::path onServer(const std::string& remote) const { return server_->home().string() + remote; }

    static FtpClient::Progress ignore() {
        return [](std::int64_t) {};
    }

    TempDir local_;
    std::optional<SshServer> server_;
};

TEST_F(Sftp, StoresByteForByteUnderTheHomeOrTheRemoteRoot) {
    const std::string bytes = randomBytes(3 * 1024 * 1024 + 77);
    std::vector<std::int64_t> counts;

    SftpClient sftp(server_->settings());
    sftp.connect();
    sftp.store(localFile(bytes), kTarget, [&counts](std::int64_t sent) { counts.push_back(sent); });
    EXPECT_EQ(sftp.remoteSize(kTarget), static_cast<std::int64_t>(bytes.size()));
    // The server's own time of the file, which tells a leftover's age.
    struct stat status {};
    ASSERT_EQ(::stat(onServer(kTarget).c_str(), &status), 0);
    EXPECT_EQ(sftp.remoteTime(kTarget), static_cast<std::int64_t>(status.st_mtime));
    sftp.quit();
    EXPECT_THROW(sftp.quit(), Error);

    EXPECT_EQ(readFile(onServer(kTarget)), bytes);
    ASSERT_GT(counts.size(), 2u);
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
    EXPECT_EQ(counts.back(), static_cast<std::int64_t>(bytes.size()));

    // known_hosts instead of the fingerprint, and a root other than the home.
    TempDir etc;
    writeFile(etc / "known_hosts", server_->knownHostsLine());
    SftpSettings other = server_->settings();
    other.hostKeySha256.clear();
    other.knownHosts = etc / "known_hosts";
    other.remoteRoot = "/site/";
    fs::create_directories(server_->root() / "site/www/downloads/CasadoNo");
    SftpClient rooted(other);
    rooted.store(localFile("abc"), kTarget, ignore());
    rooted.quit();
    EXPECT_EQ(readFile((server_->root() / "site").string() + kTarget), "abc");
}

TEST_F(Sftp, RenameOntoAnExistingFileIsRefusedSoTheCallerCanSwap) {
    writeFile(onServer(kTarget), "old");
    SftpClient sftp(server_->settings());
    sftp.store(localFile("new"), kTemporary, ignore());

    EXPECT_THROW(sftp.rename(kTemporary, kTarget), RenameRefused);
    EXPECT_EQ(readFile(onServer(kTarget)), "old");
    // A rename failing for another reason is not taken for a refusal.
    try {
        sftp.rename(kTemporary + ".missing", kTarget + ".elsewhere");
        ADD_FAILURE() << "renamed a missing file";
    } catch (const RenameRefused&) {
        ADD_FAILURE() << "a missing source taken for an existing target";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }

    sftp.rename(kTarget, kTarget + ".old");
    sftp.rename(kTemporary, kTarget);
    sftp.remove(kTarget + ".old");
    sftp.quit();
    EXPECT_EQ(readFile(onServer(kTarget)), "new");
    EXPECT_FALSE(fs::exists(onServer(kTemporary)));
    EXPECT_FALSE(fs::exists(onServer(kTarget + ".old")));
}

TEST_F(Sftp, TheHostKeyIsCheckedBeforeTheLogin) {
    const std::string offered = server_->hostKeyFingerprint();
    const std::string host = "[127.0.0.1]:" + std::to_string(server_->port());
    const std::string other = test::fingerprintOf(server_->makeKey("other_key") + ".pub");
    TempDir etc;
    writeFile(etc / "mismatch", "[127.0.0.1]:" + std::to_string(server_->port()) + " " +
                                    readFile(server_->makeKey("wrong_host_key") + ".pub"));
    writeFile(etc / "elsewhere", "[127.0.0.2]:" + std::to_string(server_->port()) + " " +
                                     readFile(server_->makeKey("elsewhere_key") + ".pub"));

    struct Case {
        std::string fingerprint;
        std::string knownHosts;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"", "", "não verificada"},
        {other, "", "diferente de [ftp] host_key_sha256 (" + other + ")"},
        {"", etc / "mismatch", "diferente da registrada em"},
        {"", etc / "elsewhere", "que não consta em"},
        // Given both, both must agree.
        {other, etc / "right", "diferente de [ftp] host_key_sha256"},
    };
    writeFile(etc / "right", server_->knownHostsLine());
    for (const Case& c : cases) {
        SftpSettings settings = server_->settings();
        settings.hostKeySha256 = c.fingerprint;
        settings.knownHosts = c.knownHosts;
        SftpClient sftp(settings);
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                if (attempt == 0)
                    sftp.connect();
                else
                    sftp.store(localFile("x"), kTarget, ignore());
                ADD_FAILURE() << "accepted with " << c.says;
            } catch (const Error& e) {
                const std::string text = e.what();
                EXPECT_NE(text.find(host + " oferece " + offered), std::string::npos) << text;
                EXPECT_NE(text.find(c.says), std::string::npos) << text;
            }
        }
    }
    EXPECT_FALSE(fs::exists(onServer(kTarget)));

    SftpSettings malformed = server_->settings();
    malformed.hostKeySha256 = "SHA256:abc";
    EXPECT_THROW(SftpClient(malformed).connect(), Error);

    // One login only, the good one: the refused ones went no further than the host key.
    SftpClient good(server_->settings());
    good.connect();
    good.quit();
    const std::string log = server_->stopAndReadLog();
    EXPECT_EQ(countLines(log, "Accepted publickey"), 1) << log;
}

TEST_F(Sftp, AKeyFileOthersCanReadIsRefused) {
    SftpSettings settings = server_->settings();
    fs::permissions(settings.keyFile, fs::perms(0640));
    try {
        SftpClient(settings).connect();
        ADD_FAILURE() << "a key readable by others was used";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Chave do SFTP recusada: \"" + settings.keyFile +
                                             "\" tem o modo 0640; uma chave privada não pode ser acessível a outros "
                                             "usuários além do dono (chmod 600 \"" +
                                             settings.keyFile + "\").");
    }
    fs::permissions(settings.keyFile, fs::perms(0600));
    SftpClient(settings).connect();
}

TEST_F(Sftp, AStopMidStoreLeavesOnlyTheTemporaryFileWhichAFreshConnectionRemoves) {
    const std::string local = localFile(randomBytes(4 * 1024 * 1024));
    const auto stopAtFirst = [](std::int64_t) { throw Stop{}; };

    SftpClient sftp(server_->settings());
    EXPECT_THROW(sftp.store(local, kTemporary, stopAtFirst), Stop);
    EXPECT_FALSE(fs::exists(onServer(kTarget)));
    EXPECT_LT(fs::file_size(onServer(kTemporary)), fs::file_size(local)); // stopped, not finished
    sftp.remove(kTemporary);
    EXPECT_FALSE(fs::exists(onServer(kTemporary)));

    EXPECT_THROW(sftp.store(local, kTemporary, stopAtFirst), Stop);
    sftp.close();
    SftpClient(server_->settings()).remove(kTemporary);
    EXPECT_FALSE(fs::exists(onServer(kTemporary)));
    EXPECT_FALSE(fs::exists(onServer(kTarget)));
}

TEST_F(Sftp, PasswordLogin) {
    std::string reason;
    const std::optional<std::string> user = server_->addPasswordAccount("s3nha-de-teste", &reason);
    if (!user)
        GTEST_SKIP() << reason;
    SftpSettings settings = server_->settings();
    settings.keyFile.clear();
    settings.user = *user;
    settings.password = "s3nha-de-teste";
    SftpClient sftp(settings);
    sftp.store(localFile("by password"), kTarget, ignore());
    sftp.quit();
    EXPECT_EQ(readFile(onServer(kTarget)), "by password");

    settings.password = "wrong";
    EXPECT_THROW(SftpClient(settings).connect(), Error);
}

TEST_F(Sftp, ListsAFolderAndTellsWhichFailuresANewTryCouldCure) {
    writeFile(onServer("/www/downloads/CasadoNo/BANCODADOS.gdb.41 2.part"), "x");
    SftpClient sftp(server_->settings());
    EXPECT_EQ(sftp.list("/www/downloads/CasadoNo"), std::vector<std::string>{"BANCODADOS.gdb.41 2.part"});
    EXPECT_TRUE(sftp.encrypted());

    const auto kind = [this](SftpSettings settings, const std::string& target) -> std::string {
        try {
            SftpClient(settings).store(localFile("x"), target, ignore());
            return "stored";
        } catch (const TransferError& e) {
            return e.transient() ? "transient" : "lasting";
        } catch (const Error&) {
            return "ours"; // refused before the server was asked anything
        }
    };
    SftpSettings stranger = server_->settings();
    stranger.keyFile = server_->makeKey("stranger_key");
    SftpSettings otherHost = server_->settings();
    otherHost.hostKeySha256 = test::fingerprintOf(server_->makeKey("other_host_key") + ".pub");
    EXPECT_EQ(kind(stranger, kTarget), "lasting");
    EXPECT_EQ(kind(otherHost, kTarget), "ours");
    EXPECT_EQ(kind(server_->settings(), "/www/nowhere/BANCODADOS.gdb"), "lasting");
    server_->stopAndReadLog();
    EXPECT_EQ(kind(server_->settings(), kTarget), "transient");
}

// A server whose session stops answering after the login (its processes stopped): each kind of
// request ends within the timeout, as a time-out that a new try may cure.
TEST_F(Sftp, AFrozenSessionEndsEveryRequestWithinTheTimeout) {
    writeFile(onServer(kTemporary), "stored");
    const std::string local = localFile(randomBytes(16 * 1024 * 1024));
    SftpSettings settings = server_->settings();
    settings.replyTimeout = std::chrono::seconds(2);
    const std::vector<std::pair<const char*, std::function<void(SftpClient&)>>> requests = {
        {"store", [&](SftpClient& sftp) { sftp.store(local, kTarget, ignore()); }},
        {"rename", [](SftpClient& sftp) { sftp.rename(kTemporary, kTarget + ".new"); }},
        {"list", [](SftpClient& sftp) { sftp.list("/www/downloads/CasadoNo"); }},
    };
    for (const auto& [name, request] : requests) {
        SCOPED_TRACE(name);
        SftpClient sftp(settings);
        sftp.connect();
        server_->freezeSessions(true);
        // Should the deadline not hold, the session wakes after a while and the time tells.
        std::atomic<bool> ended = false;
        std::thread watchdog([this, &ended] {
            const auto wake = std::chrono::steady_clock::now() + std::chrono::seconds(12);
            while (!ended && std::chrono::steady_clock::now() < wake)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            server_->freezeSessions(false);
        });
        const auto started = std::chrono::steady_clock::now();
        try {
            request(sftp);
            ADD_FAILURE() << "the request ended normally";
        } catch (const TransferError& e) {
            EXPECT_EQ(e.code(), CURLE_OPERATION_TIMEDOUT) << e.what();
            EXPECT_TRUE(e.transient());
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2 + 5));
        ended = true;
        watchdog.join();
    }
}

// ssh-keyscan writes the RSA line first; libcurl would then ask a stock OpenSSH for ssh-rsa (SHA-1),
// which it refuses. The file works as it is, and with only the RSA and Ed25519 lines.
TEST(SftpKnownHosts, WhatSshKeyscanWritesIsUsedAsItIs) {
    if (const std::string reason = SshServer::unavailable(); !reason.empty())
        GTEST_SKIP() << reason;
    SshServer server(true);
    TempDir etc;
    for (const std::vector<std::string>& types : std::vector<std::vector<std::string>>{
             {"ssh-rsa", "ecdsa-sha2-nistp256", "ssh-ed25519"}, {"ssh-rsa", "ssh-ed25519"}}) {
        SCOPED_TRACE(types.size());
        writeFile(etc / "known_hosts", server.keyscan(types));
        SftpSettings settings = server.settings();
        settings.hostKeySha256.clear();
        settings.knownHosts = etc / "known_hosts";
        SftpClient sftp(settings);
        EXPECT_NO_THROW(sftp.connect());
        EXPECT_NO_THROW(sftp.quit());
    }
    // Still checked: a file with another server's key is refused.
    writeFile(etc / "known_hosts",
              "[127.0.0.1]:" + std::to_string(server.port()) + " " + readFile(server.makeKey("other_host") + ".pub"));
    SftpSettings settings = server.settings();
    settings.hostKeySha256.clear();
    settings.knownHosts = etc / "known_hosts";
    EXPECT_THROW(SftpClient(settings).connect(), Error);
}

// A server that takes the connection and never says a word: the caller is serviced while curl
// waits for the SSH greeting, and can stop the wait.
TEST(SftpWaiting, TheCallerIsServicedWhileTheServerIsSilentAndCanStop) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    SftpSettings settings;
    settings.host = "127.0.0.1";
    settings.port = ntohs(address.sin_port);
    settings.user = "root";
    settings.hostKeySha256 = "SHA256:AEnKfOmsteKKnwTJst/fmXJeWDpH5didViFDjZ0Zwd4";
    settings.replyTimeout = std::chrono::seconds(5); // reached only if the stop is not
    SftpClient sftp(settings);
    int waits = 0;
    sftp.setWaiting([&waits] {
        if (++waits == 3)
            throw Stop{};
    });
    EXPECT_THROW(sftp.connect(), Stop);
    EXPECT_EQ(waits, 3);
    ::close(listener);
}

} // namespace
} // namespace vela
