#include "publish/UploadStep.h"
#include "common/TemporaryName.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <set>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace vela {
namespace {

namespace fs = std::filesystem;
using test::FtpTestServer;
using test::readFile;
using test::RecordingHost;
using test::TempDir;
using test::writeFile;

struct Stopped : std::runtime_error {
    Stopped() : std::runtime_error("stopped") {}
};

class UploadStepTest : public ::testing::Test {
protected:
    // The server holds a published file from an earlier run in Bela/.
    FtpTestServer& serve(const std::vector<std::string>& options = {}) {
        server_.emplace(options);
        fs::create_directories(server_->downloads() / "Bela");
        writeFile(published(), "previous database");
        writeFile(local_ / "BANCODADOS.gdb", std::string(3 * 1024 * 1024 + 7, 'n'));
        return *server_;
    }
    fs::path published() const { return server_->downloads() / "Bela" / "BANCODADOS.gdb"; }
    UploadStep step(FtpSettings settings) { return UploadStep(host_, settings, local_ / "BANCODADOS.gdb"); }
    UploadStep step() { return step(server_->settings()); }
    fs::path owner() const { return server_->downloads() / "Bela" / "BANCODADOS.gdb.empresa"; }
    // What the folder holds besides the published file and its owner file.
    std::set<std::string> others() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(published().parent_path()))
            if (entry.path() != published() && entry.path() != owner())
                names.insert(entry.path().filename());
        return names;
    }

    RecordingHost host_;
    TempDir local_;
    std::optional<FtpTestServer> server_;
};

TEST_F(UploadStepTest, PublishesOverThePreviousFileAndTellsTheHostEachCount) {
    for (bool refusesRenameOver : {false, true}) {
        SCOPED_TRACE(refusesRenameOver ? "server refuses RNTO onto a file" : "plain rename");
        serve(refusesRenameOver ? std::vector<std::string>{"--refuse-rename-over"} : std::vector<std::string>{});
        host_ = RecordingHost();
        UploadStep upload = step();
        upload.measure();
        upload.connect();
        const UploadResult result = upload.send("Bela", 1);

        EXPECT_EQ(readFile(published()), readFile(local_ / "BANCODADOS.gdb"));
        EXPECT_EQ(others(), std::set<std::string>());
        EXPECT_EQ(result.bytes, 3 * 1024 * 1024 + 7);
        ASSERT_FALSE(host_.uploaded.empty());
        EXPECT_EQ(host_.uploaded.back(), std::make_pair(result.bytes, result.bytes));
        EXPECT_EQ(host_.lines.size(), host_.uploaded.size() + 1);
        EXPECT_EQ(host_.lines.back(), "Exporta\xe7\xe3o Conclu\xed"
                                      "da.");
        EXPECT_EQ(readFile(owner()), "nomefantasia=Bela\ntid=1\n");
        const std::string log = server_->stopAndReadLog();
        EXPECT_EQ(test::countLines(log, "<- DELE /www/downloads/Bela/BANCODADOS.gdb\n"), 0);
        EXPECT_EQ(test::countLines(log, "<- STOR /www/downloads/Bela/BANCODADOS.gdb." + processTag() + ".part"), 1);
    }
}

TEST_F(UploadStepTest, AStopFromTheWindowAbortsTheStoreAndRemovesTheTemporaryFile) {
    serve();
    UploadStep upload = step();
    upload.measure();
    upload.connect();
    host_.onEvents = [this] {
        if (!host_.uploaded.empty())
            throw Stopped();
    };
    EXPECT_THROW(upload.send("Bela", 1), Stopped);
    EXPECT_EQ(readFile(published()), "previous database");
    EXPECT_EQ(others(), std::set<std::string>());
}

TEST_F(UploadStepTest, EveryFailedPublishKeepsTheOldFileAndLeavesNoTemporaryOne) {
    const std::string full = std::to_string(3 * 1024 * 1024 + 7);
    struct Case {
        std::vector<std::string> faults;
        std::string failure;
        bool stepsAside = false; // whether the published file may be renamed aside meanwhile
    };
    for (const Case& c :
         {Case{{"--refuse-every-rnto"}, "550 Rename refused."},
          // Refused for another reason than an existing target: no swap.
          Case{{"--refuse-rnto", "2", "--rnto-reply", "553 Name not allowed."}, "553 Name not allowed."},
          // Refused onto the old file; the old one stepped aside, then the new one is refused.
          Case{{"--refuse-rename-over", "--refuse-rnto", "4"}, "550 Rename refused.", true},
          // vsftpd's session process died mid-store: the clean-up logs in again.
          Case{{"--drop-after", full, "--drop-reply", "500 OOPS: child died"}, "500 OOPS: child died"},
          Case{{"--size-offset", "1"},
               "Tamanho remoto difere do local: " + std::to_string(std::stoll(full) + 1) + " / " + full},
          Case{{"--size-offset", "-1"},
               "Tamanho remoto difere do local: " + std::to_string(std::stoll(full) - 1) + " / " + full}}) {
        SCOPED_TRACE(c.faults[0]);
        serve(c.faults);
        UploadStep upload = step();
        upload.measure();
        upload.connect();
        try {
            upload.send("Bela", 1);
            ADD_FAILURE() << "send succeeded";
        } catch (const Error& e) {
            // The server and the path, then the server's or our own words.
            EXPECT_TRUE(std::string(e.what()).starts_with("127.0.0.1: /www/downloads/Bela/BANCODADOS.gdb")) << e.what();
            EXPECT_TRUE(std::string(e.what()).ends_with(": " + c.failure) || c.failure.empty()) << e.what();
        }
        EXPECT_EQ(readFile(published()), "previous database");
        EXPECT_EQ(others(), std::set<std::string>());
        if (!c.stepsAside) {
            EXPECT_EQ(test::countLines(server_->stopAndReadLog(), "<- RNFR /www/downloads/Bela/BANCODADOS.gdb\n"), 0);
        }
    }
}

TEST_F(UploadStepTest, TheFolderBelongsToTheCompanyThatPublishesThereFirst) {
    serve();
    const fs::path folder = server_->downloads() / "Distribuid";
    fs::create_directories(folder);
    // Published by the previous version: a database and no owner file. It is taken over.
    writeFile(folder / "BANCODADOS.gdb", "previous version's database");
    const auto publishAs = [this](std::string_view tradeName, bool ownerCheck) {
        FtpSettings settings = server_->settings();
        settings.ownerCheck = ownerCheck;
        UploadStep upload = step(settings);
        upload.measure();
        upload.connect();
        upload.send(tradeName, 1);
    };
    publishAs("Distribuidora Alfa", true);
    EXPECT_EQ(readFile(folder / "BANCODADOS.gdb"), readFile(local_ / "BANCODADOS.gdb"));
    EXPECT_EQ(readFile(folder / "BANCODADOS.gdb.empresa"), "nomefantasia=Distribuidora Alfa\ntid=1\n");

    // Another company whose trade name shares its first ten characters: refused before anything
    // is stored.
    writeFile(folder / "BANCODADOS.gdb", "Alfa's database");
    try {
        publishAs("Distribuidora Beta", true);
        ADD_FAILURE() << "published into another company's folder";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "A pasta Distribuid j\xc3\xa1 recebe o banco de 'Distribuidora Alfa'");
    }
    EXPECT_EQ(readFile(folder / "BANCODADOS.gdb"), "Alfa's database");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);

    // A company that renamed itself turns the check off once; the folder is its own from then on.
    publishAs("Distribuidora Beta", false);
    EXPECT_EQ(readFile(folder / "BANCODADOS.gdb"), readFile(local_ / "BANCODADOS.gdb"));
    EXPECT_EQ(readFile(folder / "BANCODADOS.gdb.empresa"), "nomefantasia=Distribuidora Beta\ntid=1\n");
    // Two stores a publish (the owner file and the database), none for the refused one.
    EXPECT_EQ(test::countLines(server_->stopAndReadLog(), "<- STOR "), 4);
}

TEST_F(UploadStepTest, AStopDuringTheSwapWaitsForItsEndAndOneAfterTheRenameIsNoFailure) {
    // Every rename takes a while, and the published file must step aside.
    serve({"--refuse-rename-over", "--rnto-delay", "0.3"});
    UploadStep upload = step();
    upload.measure();
    upload.connect();
    bool stopAsked = false;
    host_.onEvents = [&] {
        // Asked while the published file is aside, and from then on asked for good.
        stopAsked = stopAsked || !fs::exists(published());
        if (stopAsked)
            throw Stopped();
    };
    EXPECT_NO_THROW(upload.send("Bela", 1));
    EXPECT_TRUE(stopAsked);
    EXPECT_EQ(readFile(published()), readFile(local_ / "BANCODADOS.gdb"));
    EXPECT_EQ(others(), std::set<std::string>());
}

TEST_F(UploadStepTest, OnlyLeftoversThatCannotBeLiveUploadsAreDeleted) {
    // As proftpd with AllowOverwrite off: neither a store nor a rename onto an existing file.
    serve({"--refuse-overwrite", "--refuse-rename-over"});
    const fs::path folder = published().parent_path();
    const auto now = fs::file_time_type::clock::now();
    const auto age = [&](const std::string& name, std::chrono::hours hours) {
        writeFile(folder / name, "left");
        fs::last_write_time(folder / name, now - hours);
    };
    fs::last_write_time(published(), now - std::chrono::hours(8));
    age("BANCODADOS.gdb.part", std::chrono::hours(9));                        // older than the published file
    age("BANCODADOS.gdb.77-2.part", std::chrono::hours(9));                   // the same, in the last version's form
    age("BANCODADOS.gdb.box-77-0badcafe.old", std::chrono::hours(7));         // newer, but untouched for 6 hours
    age("BANCODADOS.gdb." + processTag() + "-3.part", std::chrono::hours(0)); // this run's own
    age("BANCODADOS.gdb.box-77-0badcafe.part", std::chrono::hours(0));        // another run, live
    age("BANCODADOS.gdb.txt", std::chrono::hours(9));
    age("notes.part", std::chrono::hours(9));
    UploadStep upload = step();
    upload.measure();
    upload.connect();
    upload.send("Bela", 1);
    EXPECT_EQ(readFile(published()), readFile(local_ / "BANCODADOS.gdb"));
    EXPECT_EQ(others(),
              (std::set<std::string>{"BANCODADOS.gdb.box-77-0badcafe.part", "BANCODADOS.gdb.txt", "notes.part"}));

    // A run killed between the swap's renames left the published file aside: it is put back
    // before anything is stored, so a store that then fails leaves it in place.
    serve({"--size-offset", "1"});
    fs::rename(published(), published().string() + ".box-77-0badcafe.old");
    writeFile(published().string() + ".box-77-0badcafe.part", "half");
    UploadStep again = step();
    again.measure();
    again.connect();
    EXPECT_THROW(again.send("Bela", 1), Error);
    EXPECT_EQ(readFile(published()), "previous database");
    EXPECT_EQ(others(), std::set<std::string>{"BANCODADOS.gdb.box-77-0badcafe.part"});
}

TEST_F(UploadStepTest, AStopWhileAThrottledServerStillReadsEndsAtOnce) {
    // The whole file fits in the sockets' buffers at once; the server takes 10 s to read it.
    serve({"--throttle", "100000", "--serial"});
    writeFile(local_ / "BANCODADOS.gdb", std::string(1000 * 1000, 'n'));
    UploadStep upload = step();
    upload.measure();
    upload.connect();
    // Stopped while curl, all bytes handed over, awaits the server's reply to the store.
    std::chrono::steady_clock::time_point stopped;
    int afterLastByte = 0;
    host_.onEvents = [&] {
        if (!host_.uploaded.empty() && host_.uploaded.back().first == 1000 * 1000 && ++afterLastByte == 2) {
            stopped = std::chrono::steady_clock::now();
            throw Stopped();
        }
    };
    EXPECT_THROW(upload.send("Bela", 1), Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5));
    EXPECT_EQ(readFile(published()), "previous database");
    EXPECT_EQ(others(), std::set<std::string>());
}

TEST_F(UploadStepTest, AServerThatFallsSilentAfterTheStoreHoldsTheStepNoLongerThanTheTimeoutAndTheCleanUp) {
    serve({"--mute-after-stor"});
    FtpSettings settings = server_->settings();
    settings.replyTimeout = std::chrono::seconds(1);
    const auto started = std::chrono::steady_clock::now();
    {
        UploadStep upload = step(settings);
        upload.measure();
        upload.connect();
        EXPECT_THROW(upload.send("Bela", 1), TransferError);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1 + 5 + 1));
    EXPECT_EQ(readFile(published()), "previous database");
}

TEST_F(UploadStepTest, TriesAgainOnlyWhereANewTryCouldSucceed) {
    // The first transfer is cut; the second gets through.
    serve({"--drop-after", "200000", "--drop-once"});
    FtpSettings settings = server_->settings();
    settings.retries = 2;
    UploadStep upload = step(settings);
    upload.measure();
    upload.connect();
    upload.send("Bela", 1);
    EXPECT_EQ(readFile(published()), readFile(local_ / "BANCODADOS.gdb"));
    EXPECT_EQ(others(), std::set<std::string>());
    EXPECT_EQ(std::count(host_.lines.begin(), host_.lines.end(), "Nova tentativa de envio (2 de 3) em 0 s"), 1);
    EXPECT_EQ(host_.lines.back(), "Exporta\xe7\xe3o Conclu\xed"
                                  "da.");
    const std::string log = server_->stopAndReadLog();
    EXPECT_EQ(test::countLines(log, "<- STOR /www/downloads/Bela/BANCODADOS.gdb." + processTag() + "-2.part"), 1);

    // A refused login, or a folder that is not there, would be refused again.
    for (const char* tradeName : {"Bela", "Ninguem"}) {
        serve();
        settings = server_->settings();
        settings.retries = 2;
        if (tradeName == std::string("Bela"))
            settings.password = "wrong";
        host_ = RecordingHost();
        UploadStep refused = step(settings);
        refused.measure();
        EXPECT_THROW(
            {
                refused.connect();
                refused.send(tradeName, 1);
            },
            TransferError);
        EXPECT_EQ(std::count_if(host_.lines.begin(), host_.lines.end(),
                                [](const std::string& line) { return line.starts_with("Nova tentativa"); }),
                  0);
        EXPECT_EQ(test::countLines(server_->stopAndReadLog(), "FTP session opened"), 1);
    }
}

TEST_F(UploadStepTest, TryingTlsOnAServerWithoutItSaysSoInTheRunLog) {
    serve();
    FtpSettings settings = server_->settings();
    settings.tls = FtpSettings::Tls::Try;
    UploadStep upload = step(settings);
    upload.connect();
    EXPECT_EQ(host_.lines, std::vector<std::string>{"Servidor sem TLS: enviando sem criptografia."});

    // AUTH TLS taken but PROT P refused: the file would go in clear text all the same.
    test::TestCa ca;
    std::vector<std::string> options = ca.serverOptions();
    options.push_back("--refuse-prot");
    serve(options);
    settings = server_->settings();
    settings.caFile = ca.caFile();
    settings.tls = FtpSettings::Tls::Try;
    host_ = RecordingHost();
    UploadStep tried = step(settings);
    tried.connect();
    EXPECT_EQ(host_.lines, std::vector<std::string>{"Servidor sem TLS: enviando sem criptografia."});
    settings.tls = FtpSettings::Tls::Require;
    EXPECT_THROW(step(settings).connect(), TransferError);
}

TEST_F(UploadStepTest, TheWindowIsServicedWhileTheLoginWaitsAndCanStopIt) {
    serve({"--ignore-pass"});
    host_.onEvents = [] { throw Stopped(); };
    UploadStep upload = step();
    EXPECT_THROW(upload.connect(), Stopped);
    EXPECT_EQ(host_.events, 1);
}

} // namespace
} // namespace vela
