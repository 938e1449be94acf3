#include "publish/FtpClient.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/TestEnv.h"

#include "common/Error.h"
#include "publish/RemotePath.h"
#include <filesystem>

#include <chrono>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::countLines;
using test::FtpTestServer;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Bytes that a text-mode transfer would alter: line ends of every kind and zero bytes, among
// random ones; large enough for the upload to report progress many times.
std::string databaseLikeBytes(std::size_t size) {
    std::mt19937 random(20240601);
    std::string bytes;
    bytes.reserve(size);
    const std::string awkward("\r\n\n\r\0\0\r\r\n\x1a", 10);
    while (bytes.size() < size) {
        bytes += awkward;
        for (int i = 0; i < 50; ++i)
            bytes += static_cast<char>(random() & 0xFF);
    }
    bytes.resize(size);
    return bytes;
}

class Upload : public ::testing::Test {
protected:
    std::string localFile(const std::string& bytes) {
        const auto path = local_ / "BANCODADOS.gdb";
        writeFile(path, bytes);
        return path;
    }

    static FtpClient::Progress recordInto(std::vector<std::int64_t>& counts) {
        return [&counts](std::int64_t sent) { counts.push_back(sent); };
    }

    TempDir local_;
};

TEST_F(Upload, SendsTheFileByteForByteOnOneLoggedInConnection) {
    FtpTestServer server;
    std::filesystem::create_directories(server.downloads() / "CasadoNo");
    const std::string bytes = databaseLikeBytes(3 * 1024 * 1024 + 123);
    std::vector<std::int64_t> counts;

    FtpClient ftp(server.settings());
    ftp.connect();
    const std::string path = remotePath("Casa do Norte Comercial");
    ftp.store(localFile(bytes), path, recordInto(counts));
    ftp.quit();

    EXPECT_EQ(readFile(server.downloads() / "CasadoNo" / "BANCODADOS.gdb"), bytes);
    ASSERT_GT(counts.size(), 2u);
    for (std::size_t i = 1; i < counts.size(); ++i)
        EXPECT_LT(counts[i - 1], counts[i]);
    EXPECT_EQ(counts.back(), static_cast<std::int64_t>(bytes.size()));

    const std::string log = server.stopAndReadLog();
    EXPECT_EQ(countLines(log, "FTP session opened"), 1) << log;
    EXPECT_EQ(countLines(log, "<- USER tarquimsistemas"), 1) << log;
    EXPECT_EQ(countLines(log, "<- PASS"), 1) << log;
    EXPECT_EQ(countLines(log, "<- TYPE I"), 1) << log;
    EXPECT_EQ(countLines(log, "<- PASV"), 1) << log;
    EXPECT_EQ(countLines(log, "<- STOR /www/downloads/CasadoNo/BANCODADOS.gdb"), 1) << log;
    EXPECT_EQ(countLines(log, "<- QUIT"), 1) << log;
    EXPECT_EQ(countLines(log, "-> 221"), 1) << log;
    for (const char* unwanted : {"<- CWD", "<- MKD", "<- APPE", "<- REST", "<- EPSV", "<- TYPE A"})
        EXPECT_EQ(countLines(log, unwanted), 0) << unwanted << "\n" << log;
}

TEST_F(Upload, StoresUnderTheFolderOfEachTradeName) {
    FtpTestServer server;
    for (const char* folder : {"CasadoNo", "LojaAzu", "Bela"})
        std::filesystem::create_directories(server.downloads() / folder);
    const std::string file = localFile("mobile database");
    FtpClient ftp(server.settings());
    ftp.connect();

    struct Case {
        const char* tradeName;
        std::filesystem::path landsAt;
    };
    for (const Case& c : {Case{"Casa do Norte Comercial", "CasadoNo/BANCODADOS.gdb"},
                          Case{"  Loja Azul Ltda", "LojaAzu/BANCODADOS.gdb"}, Case{"Bela", "Bela/BANCODADOS.gdb"},
                          // "/www/downloads//BANCODADOS.gdb": the doubled slash names the same folder.
                          Case{"", "BANCODADOS.gdb"}, Case{"   ", "BANCODADOS.gdb"}}) {
        ftp.store(file, remotePath(c.tradeName), nullptr);
        EXPECT_EQ(readFile(server.downloads() / c.landsAt), "mobile database") << c.tradeName;
        std::filesystem::remove(server.downloads() / c.landsAt);
    }
    ftp.quit();

    const std::string log = server.stopAndReadLog();
    EXPECT_EQ(countLines(log, "<- STOR /www/downloads//BANCODADOS.gdb"), 2) << log;
    EXPECT_EQ(countLines(log, "<- USER"), 1) << log;
}

TEST_F(Upload, SendsALatinTradeNameAsUtf8) {
    FtpTestServer server;
    const std::filesystem::path folder = server.downloads() / std::filesystem::u8path("AçaíDoces");
    std::filesystem::create_directories(folder);

    FtpClient ftp(server.settings());
    ftp.connect();
    ftp.store(localFile("x"),
              remotePath("A\xE7"
                         "a\xED Doces e Salgados"),
              nullptr);
    ftp.quit();

    EXPECT_EQ(readFile(folder / "BANCODADOS.gdb"), "x");
    EXPECT_EQ(countLines(server.stopAndReadLog(), "<- STOR /www/downloads/AçaíDoces/BANCODADOS.gdb"), 1);
}

TEST_F(Upload, KeepsBlanksPercentAndSemicolonsOfAPathIntact) {
    FtpTestServer server;
    std::filesystem::create_directories(server.downloads() / "a b;type=a%41#?");
    FtpClient ftp(server.settings());
    ftp.store(localFile("y"), "/www/downloads/a b;type=a%41#?/BANCODADOS.gdb", nullptr);
    EXPECT_EQ(readFile(server.downloads() / "a b;type=a%41#?" / "BANCODADOS.gdb"), "y");
}

TEST_F(Upload, ReplacesAnOlderRemoteFileInsteadOfAppending) {
    FtpTestServer server;
    std::filesystem::create_directories(server.downloads() / "Bela");
    writeFile(server.downloads() / "Bela" / "BANCODADOS.gdb", std::string(100000, 'o'));
    FtpClient ftp(server.settings());
    ftp.connect();
    ftp.store(localFile("new"), remotePath("Bela"), nullptr);
    ftp.quit();
    EXPECT_EQ(readFile(server.downloads() / "Bela" / "BANCODADOS.gdb"), "new");
}

TEST_F(Upload, AnEmptyFileIsStoredWithoutProgressReports) {
    FtpTestServer server;
    std::filesystem::create_directories(server.downloads() / "Bela");
    std::vector<std::int64_t> counts;
    FtpClient ftp(server.settings());
    ftp.connect();
    ftp.store(localFile(""), remotePath("Bela"), recordInto(counts));
    ftp.quit();
    EXPECT_TRUE(counts.empty());
    ASSERT_TRUE(std::filesystem::exists(server.downloads() / "Bela" / "BANCODADOS.gdb"));
    EXPECT_EQ(std::filesystem::file_size(server.downloads() / "Bela" / "BANCODADOS.gdb"), 0u);
}

TEST_F(Upload, StoreLogsInByItselfWhenNotConnected) {
    FtpTestServer server;
    std::filesystem::create_directories(server.downloads() / "Bela");
    FtpClient ftp(server.settings());
    ftp.store(localFile("z"), remotePath("Bela"), nullptr);
    ftp.quit();
    EXPECT_EQ(readFile(server.downloads() / "Bela" / "BANCODADOS.gdb"), "z");
    EXPECT_EQ(countLines(server.stopAndReadLog(), "<- USER"), 1);
}

TEST_F(Upload, AMovedClientGoesOnWithItsConnection) {
    FtpTestServer server;
    std::filesystem::create_directories(server.downloads() / "Bela");
    FtpClient first(server.settings());
    first.connect();
    FtpClient second(std::move(first));
    FtpClient third(FtpSettings{});
    third = std::move(second);
    std::vector<std::int64_t> counts;
    third.store(localFile(databaseLikeBytes(300000)), remotePath("Bela"), recordInto(counts));
    third.quit();
    EXPECT_FALSE(counts.empty());
    EXPECT_EQ(countLines(server.stopAndReadLog(), "<- USER"), 1);
}

TEST_F(Upload, WrongPasswordFailsTheConnectWithTheServersRefusal) {
    FtpTestServer server;
    FtpSettings settings = server.settings();
    settings.password = "wrong";
    FtpClient ftp(settings);
    try {
        ftp.connect();
        FAIL() << "connect succeeded";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "127.0.0.1: 530 Authentication failed.");
        EXPECT_EQ(e.code(), CURLE_LOGIN_DENIED);
    }
}

TEST_F(Upload, AnUnreachableServerFailsTheConnectWithCurlsText) {
    int port = 0;
    {
        FtpTestServer server;
        port = server.port();
    }
    FtpSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    FtpClient ftp(settings);
    try {
        ftp.connect();
        FAIL() << "connect succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), CURLE_COULDNT_CONNECT);
        EXPECT_NE(std::string(e.what()).find("127.0.0.1"), std::string::npos) << e.what();
    }
}

TEST_F(Upload, AServerThatNeverAnswersFailsAfterTheReplyTimeout) {
    FtpTestServer server({"--ignore-pass"});
    FtpSettings settings = server.settings();
    settings.replyTimeout = std::chrono::seconds(1);
    FtpClient ftp(settings);
    const auto start = std::chrono::steady_clock::now();
    try {
        ftp.connect();
        FAIL() << "connect succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), CURLE_OPERATION_TIMEDOUT) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(Upload, AMissingRemoteFolderFailsTheStoreWithTheServersReply) {
    FtpTestServer server;
    FtpClient ftp(server.settings());
    ftp.connect();
    try {
        ftp.store(localFile("data"), remotePath("Ninguem"), nullptr);
        FAIL() << "store succeeded";
    } catch (const Error& e) {
        // The server, the path and the server's own words.
        EXPECT_EQ(std::string(e.what()).substr(0, 54), "127.0.0.1: /www/downloads/Ninguem/BANCODADOS.gdb: 550 ")
            << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(server.downloads() / "Ninguem"));
    EXPECT_EQ(countLines(server.stopAndReadLog(), "<- MKD"), 0);
}

TEST_F(Upload, AConnectionDroppedMidTransferFailsTheStore) {
    FtpTestServer server({"--drop-after", "1000000"});
    std::filesystem::create_directories(server.downloads() / "Bela");
    const std::string bytes = databaseLikeBytes(8 * 1024 * 1024);
    std::vector<std::int64_t> counts;
    FtpClient ftp(server.settings());
    ftp.connect();
    try {
        ftp.store(localFile(bytes), remotePath("Bela"), recordInto(counts));
        FAIL() << "store succeeded";
    } catch (const Error& e) {
        EXPECT_NE(e.code(), CURLE_OK);
        EXPECT_STRNE(e.what(), "");
        EXPECT_NE(std::string(e.what()).substr(0, 4), "150 ") << e.what();
    }
    ASSERT_FALSE(counts.empty());
    EXPECT_LT(counts.back(), static_cast<std::int64_t>(bytes.size()));
}

TEST_F(Upload, AMissingLocalFileFailsBeforeAnyFtpActivity) {
    FtpTestServer server;
    FtpClient ftp(server.settings());
    const std::string missing = local_ / "nothing.gdb";
    try {
        ftp.store(missing, remotePath("Bela"), nullptr);
        FAIL() << "store succeeded";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing + "\". No such file or directory");
    }
    EXPECT_EQ(countLines(server.stopAndReadLog(), "FTP session opened"), 0);
}

TEST_F(Upload, AnExceptionFromTheProgressCallbackAbortsTheStoreUnchanged) {
    FtpTestServer server;
    std::filesystem::create_directories(server.downloads() / "Bela");
    FtpClient ftp(server.settings());
    ftp.connect();
    int calls = 0;
    auto throwing = [&calls](std::int64_t) {
        ++calls;
        throw std::logic_error("window gone");
    };
    try {
        ftp.store(localFile(databaseLikeBytes(2 * 1024 * 1024)), remotePath("Bela"), throwing);
        FAIL() << "store succeeded";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "window gone");
    }
    EXPECT_EQ(calls, 1);
}

TEST_F(Upload, RequiredTlsTrustsOnlyTheGivenAuthorityAndProtectsTheData) {
    const test::TestCa ca;
    FtpTestServer server(ca.serverOptions());
    std::filesystem::create_directories(server.downloads() / "Bela");
    FtpSettings settings = server.settings();
    settings.tls = FtpSettings::Tls::Require;
    try {
        FtpClient(settings).connect();
        FAIL() << "connect succeeded without the authority";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), CURLE_PEER_FAILED_VERIFICATION) << e.what();
        EXPECT_NE(std::string(e.what()).find("certificate"), std::string::npos) << e.what();
    }
    settings.caFile = ca.caFile();
    FtpClient ftp(settings);
    ftp.connect();
    ftp.store(localFile("secret"), remotePath("Bela"), nullptr);
    ftp.quit();
    EXPECT_EQ(readFile(server.downloads() / "Bela" / "BANCODADOS.gdb"), "secret");
    const std::string log = server.stopAndReadLog();
    EXPECT_EQ(countLines(log, "<- PROT P"), 1) << log;
}

TEST_F(Upload, RequiredTlsFailsOnAPlainServerWithItsRefusalWhereTryGoesOnInClear) {
    FtpTestServer server;
    FtpSettings settings = server.settings();
    settings.tls = FtpSettings::Tls::Require;
    try {
        FtpClient(settings).connect();
        FAIL() << "connect succeeded in clear text";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), CURLE_USE_SSL_FAILED) << e.what();
        EXPECT_NE(std::string(e.what()).find("AUTH"), std::string::npos) << e.what();
    }
    settings.tls = FtpSettings::Tls::Try;
    FtpClient ftp(settings);
    ftp.connect();
    ftp.quit();
}

// The message of a QUIT that a server with these faults answers wrongly.
std::string quitFailure(const std::vector<std::string>& faults) {
    FtpTestServer server(faults);
    FtpClient ftp(server.settings());
    ftp.connect();
    try {
        ftp.quit();
    } catch (const Error& e) {
        return e.what();
    }
    return "quit succeeded";
}

TEST_F(Upload, QuitFailsWhenTheServerRefusesOrHangsUp) {
    EXPECT_EQ(quitFailure({"--quit-reply", "500 Not now."}), "127.0.0.1: 500 Not now.");
    EXPECT_EQ(quitFailure({"--quit-reply", ""}), "The FTP server did not answer QUIT.");
}

TEST_F(Upload, QuitFailsOnAConnectionTheServerHasClosedWithoutOpeningAnother) {
    FtpTestServer server;
    FtpClient ftp(server.settings());
    ftp.connect();
    const std::string log = server.stopAndReadLog();
    try {
        ftp.quit();
        FAIL() << "quit succeeded";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "The FTP connection was closed before QUIT.");
    }
    EXPECT_EQ(countLines(log, "<- USER"), 1);
}

TEST_F(Upload, CloseSaysQuitAndAllowsANewConnection) {
    FtpTestServer server;
    FtpClient ftp(server.settings());
    ftp.connect();
    ftp.close();
    ftp.connect();
    ftp.quit();
    const std::string log = server.stopAndReadLog();
    EXPECT_EQ(countLines(log, "FTP session opened"), 2) << log;
    EXPECT_EQ(countLines(log, "<- QUIT"), 2) << log;
}

} // namespace
} // namespace vela
