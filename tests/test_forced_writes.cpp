// The mobile file is written without forced writes and with its pages filled during step 1, but
// what is published must carry the template's own settings, whether step 1 ends, fails or the
// template had them off.
#include "db/Connection.h"
#include "db/ModuloDadosCadastro.h"
#include "sync/TableCopier.h"
#include "sync/Tables.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace vela::test;
namespace fs = std::filesystem;

namespace {

// Step 1's copies in process from source into a copy of the template; filled as step 1 fills the
// file, or as a plain copy writes it, keeping the template's reserve (forced writes off either way,
// so that the reference costs no disk waits). Returns every mobile table's rows.
std::map<std::string, std::vector<Row>> build(const std::string& source, const std::string& mobile, bool filled,
                                              RecordingHost& host) {
    fs::copy_file(binaryDir() + "/VAZIO.GDB", mobile);
    vela::TDMSistemaCadastro dm({source, mobile});
    if (!filled)
        dm.FDConnectionBancoMovel.setForcedWrites(false);
    dm.FDConnectionBancoMovel.open();
    dm.FDConnectionBancoVela.open();
    dm.FDTransactionBancoMovel.start();
    if (filled) {
        vela::sincronizaTabelas(dm, host);
    } else {
        for (const vela::CopyEntry& e : vela::tableCopies)
            vela::runTableCopy(e.copy, dm, host);
    }
    dm.release();
    std::map<std::string, std::vector<Row>> rows;
    for (const Row& t : query(mobile, "select trim(rdb$relation_name) from rdb$relations where rdb$system_flag = 0"))
        rows[t[0]] = query(mobile, "select * from " + t[0] + " order by 1");
    return rows;
}

} // namespace

TEST(ForcedWrites, ThePublishedFileKeepsTheTemplatesSetting) {
    struct Case {
        const char* name;
        bool templateForced;
        bool templateReserves;
        const char* sourceSql;
        int exitCode;
    };
    const Case cases[] = {
        {"template on, step 1 ends", true, true, "insert into estado (tid, uf, ativo) values (1, 'SP', 1);", 0},
        // The last copy fails: every earlier table was written without forced writes, for nothing.
        {"template on, step 1 fails", true, true, "drop table cvf;", 1},
        {"template without forced writes, step 1 ends", false, true, "", 0},
        {"template using its pages full, step 1 ends", true, false, "", 0},
    };
    for (const Case& c : cases) {
        Installation in;
        in.createSource(c.sourceSql);
        in.startFtp({"--make-folders"});
        vela::Connection("template",
                         {"Database=" + in.templatePath, "User_Name=sysdba", "Password=quillfern", "DriverID=IB"})
            .setFileSettings(c.templateForced, c.templateReserves);
        ASSERT_EQ(headerSaysForcedWrites(in.templatePath), c.templateForced) << c.name;
        ASSERT_EQ(headerSaysReserve(in.templatePath), c.templateReserves) << c.name;
        RunResult r = in.run();
        ASSERT_FALSE(r.timedOut) << c.name;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
        // A run that fails publishes nothing, not even in the mobile folder.
        EXPECT_EQ(fs::exists(in.mobilePath), c.exitCode == 0) << c.name;
        if (c.exitCode == 0) {
            EXPECT_EQ(headerSaysForcedWrites(in.mobilePath), c.templateForced) << c.name;
            EXPECT_EQ(headerSaysReserve(in.mobilePath), c.templateReserves) << c.name;
            const auto published = in.ftpServer->downloads();
            int found = 0;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(published)) {
                if (entry.path().filename() == "BANCODADOS.gdb") {
                    ++found;
                    EXPECT_EQ(headerSaysForcedWrites(entry.path().string()), c.templateForced) << c.name;
                    EXPECT_EQ(headerSaysReserve(entry.path().string()), c.templateReserves) << c.name;
                }
            }
            EXPECT_EQ(found, 1) << c.name;
        }
    }
}

// Step 1 fills the pages of the file every device downloads: a smaller file holding the very rows,
// and the run log, of a build that keeps the template's reserve.
TEST(ForcedWrites, StepOneFillsThePagesWithTheSameRows) {
    TempDir dir;
    const std::string source = dir / "backoffice.fdb";
    createDatabase(source, backofficeSchema(),
                   "set term ^;\nexecute block as declare i integer = 0; begin\n"
                   "while (i < 4000) do begin\n"
                   "insert into estado (tid, uf, descricao, icms, ativo, data, codibge) values (:i, 'SP', "
                   "'Estado n\xfamero ' || :i, 18.5, 1, '2024-05-06 07:08:09', :i * 7); i = i + 1; end\nend^\n"
                   "set term ;^\n");
    RecordingHost filledLog, plainLog;
    const auto filled = build(source, dir / "filled.gdb", true, filledLog);
    const auto plain = build(source, dir / "plain.gdb", false, plainLog);
    EXPECT_EQ(filled.at("ESTADO").size(), 4000u);
    EXPECT_TRUE(filled == plain);
    EXPECT_EQ(filledLog.lines, plainLog.lines);
    EXPECT_TRUE(headerSaysReserve(dir / "filled.gdb"));
    EXPECT_LT(fs::file_size(dir / "filled.gdb"), fs::file_size(dir / "plain.gdb"));
}
