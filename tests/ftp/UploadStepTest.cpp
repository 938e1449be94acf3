#include "publish/UploadStep.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

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
    UploadStep step() { return UploadStep(host_, server_->settings(), local_ / "BANCODADOS.gdb"); }

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
        const UploadResult result = upload.send("Bela");

        EXPECT_EQ(readFile(published()), readFile(local_ / "BANCODADOS.gdb"));
        EXPECT_FALSE(fs::exists(published().string() + ".part"));
        EXPECT_EQ(result.bytes, 3 * 1024 * 1024 + 7);
        ASSERT_FALSE(host_.uploaded.empty());
        EXPECT_EQ(host_.uploaded.back(), std::make_pair(result.bytes, result.bytes));
        EXPECT_EQ(host_.lines.size(), host_.uploaded.size() + 1);
        EXPECT_EQ(host_.lines.back(), "Exporta\xe7\xe3o Conclu\xed"
                                      "da.");
        const std::string log = server_->stopAndReadLog();
        EXPECT_EQ(test::countLines(log, "<- DELE /www/downloads/Bela/BANCODADOS.gdb"), refusesRenameOver ? 1 : 0);
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
    EXPECT_THROW(upload.send("Bela"), Stopped);
    EXPECT_EQ(readFile(published()), "previous database");
    EXPECT_FALSE(fs::exists(published().string() + ".part"));
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
