// The mobile file is written without forced writes during step 1, but what is published must carry
// the template's own setting, whether step 1 ends, fails or the template had them off.
#include "db/Connection.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vela::test;
namespace fs = std::filesystem;

TEST(ForcedWrites, ThePublishedFileKeepsTheTemplatesSetting) {
    struct Case {
        const char* name;
        bool templateForced;
        const char* sourceSql;
        int exitCode;
    };
    const Case cases[] = {
        {"template on, step 1 ends", true, "insert into estado (tid, uf, ativo) values (1, 'SP', 1);", 0},
        // The last copy fails: every earlier table was written without forced writes, for nothing.
        {"template on, step 1 fails", true, "drop table cvf;", 1},
        {"template off, step 1 ends", false, "", 0},
    };
    for (const Case& c : cases) {
        Installation in;
        in.createSource(c.sourceSql);
        in.startFtp({"--make-folders"});
        if (!c.templateForced) {
            vela::Connection t(
                "template", {"Database=" + in.templatePath, "User_Name=sysdba", "Password=quillfern", "DriverID=IB"});
            t.setForcedWrites(false);
        }
        ASSERT_EQ(headerSaysForcedWrites(in.templatePath), c.templateForced) << c.name;
        RunResult r = in.run();
        ASSERT_FALSE(r.timedOut) << c.name;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
        // A run that fails publishes nothing, not even in the mobile folder.
        EXPECT_EQ(fs::exists(in.mobilePath), c.exitCode == 0) << c.name;
        if (c.exitCode == 0) {
            EXPECT_EQ(headerSaysForcedWrites(in.mobilePath), c.templateForced) << c.name;
            const auto published = in.ftpServer->downloads();
            int found = 0;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(published)) {
                if (entry.path().filename() == "BANCODADOS.gdb") {
                    ++found;
                    EXPECT_EQ(headerSaysForcedWrites(entry.path().string()), c.templateForced) << c.name;
                }
            }
            EXPECT_EQ(found, 1) << c.name;
        }
    }
}
