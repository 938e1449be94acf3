// The database layer against real embedded databases: parameters, types, transactions, errors.
#include "common/Error.h"
#include "db/Connection.h"
#include "db/ModuloDadosCadastro.h"
#include "db/NamedParams.h"
#include "db/Statement.h"
#include "db/Transaction.h"
#include "sync/CopyRules.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>


using namespace vela;
using vela::test::TempDir;

TEST(NamedParams, ColonsInLiteralsCommentsAndQuotedNamesAreNotParameters) {
    ParsedSql p = parseNamedParams("select ':x', \"a:b\" from t -- :c\n where a = :tid /* :d */ and b = :New_Tid "
                                   "and c = :tid and d = 'it''s :e'");
    EXPECT_EQ(p.sql, "select ':x', \"a:b\" from t -- :c\n where a = ? /* :d */ and b = ? and c = ? and d = 'it''s :e'");
    EXPECT_EQ(p.names, (std::vector<std::string>{"TID", "NEW_TID", "TID"}));
    EXPECT_EQ(parseNamedParams("select gen_id(g, 0) from RDB$DATABASE").names.size(), 0u);
    EXPECT_EQ(parseNamedParams("'unterminated :x").names.size(), 0u);
}

class Db : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir / "t.fdb";
        test::createDatabase(path, test::mobileSchema(),
                             "create table t (i integer, s smallint, b bigint, d double precision, "
                             "n numeric(18,2), ts timestamp, dt date, v varchar(5) character set win1252, "
                             "c char(3) character set win1252);");
    }
    Connection connect() {
        return Connection("c", {"Database=" + path, "User_Name=sysdba", "Password=quillfern", "DriverID=IB"});
    }
    TempDir dir;
    std::string path;
};

TEST_F(Db, EveryTypeRoundTripsByteForByte) {
    Connection c = connect();
    Transaction t(c, Transaction::Mode::ReadCommitted);
    c.setDefaultTransaction(&t);
    Statement ins(c, "ins", "insert into t values (:i, :s, :b, :d, :n, :ts, :dt, :v, :c)");
    ins.prepare();
    Message& p = ins.params();
    // The layout handed to the engine with the buffer answers as the statement described it, and a
    // column it does not have is an error in the caller's status, not a read past its end.
    fb::Status st;
    EXPECT_EQ(p.metadata()->getType(&st, 8) & ~1u, unsigned{SQL_TEXT});
    EXPECT_EQ(p.metadata()->getOffset(&st, 8), p.column(8).offset);
    EXPECT_THROW(p.metadata()->getType(&st, 9), Error);
    p.setInt64(0, -7);
    p.setInt64(1, 32767);
    p.setInt64(2, 1LL << 40);
    p.setDouble(3, 0.1);
    p.setInt64(4, 1250, -2);
    p.setTimestamp(5, ISC_TIMESTAMP{fb::util()->encodeDate(2024, 2, 29), fb::util()->encodeTime(23, 59, 58, 1234)});
    p.setDate(6, fb::util()->encodeDate(1899, 12, 30));
    p.setBytes(7, std::string("\x80\xff\0z-too-long", 13));
    p.setBytes(8, "\xe7");
    ins.execute();
    EXPECT_THROW(p.setInt64(1, 32768), Error);
    t.commit();
    c.close();

    auto rows = test::query(path, "select * from t");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (test::Row{"-7", "32767", "1099511627776", "0.1", "12.50", "2024-02-29 23:59:58.1234",
                                  "1899-12-30", std::string("\x80\xff\0z-", 5), "\xe7  "}));
}

TEST_F(Db, CommitRetainingMakesRowsVisibleAndClosingCommitsTheRest) {
    Connection c = connect();
    Transaction t(c, Transaction::Mode::ReadCommitted);
    c.setDefaultTransaction(&t);
    t.start();
    Command cmd(c, "cmd");
    cmd.execute("insert into t (i) values (1)");
    t.commitRetaining();
    cmd.execute("insert into t (i) values (2)");

    Connection other("o", {"Database=" + path, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    Query q(other, "q", "select count(*) from t");
    q.open();
    EXPECT_EQ(q.row().getInt64(0), 1); // the second row is not committed yet
    q.close();
    other.close();

    EXPECT_TRUE(t.active());
    c.close(); // commits
    EXPECT_FALSE(t.active());
    EXPECT_EQ(test::query(path, "select count(*) from t")[0][0], "2");
}

TEST_F(Db, FailuresCarryTheClientsMessage) {
    Connection missing("m", {"Database=" + (dir / "none.fdb"), "User_Name=sysdba", "Password=x", "DriverID=FB"});
    try {
        missing.open();
        FAIL() << "opened a missing database";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("none.fdb"), std::string::npos) << e.what();
    }

    Connection c = connect();
    Query bad(c, "bad", "select nope from t");
    try {
        bad.open();
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Column unknown"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos) << e.what();
    }
    Query ok(c, "ok", "select i from t where i = :tid");
    EXPECT_THROW(ok.field("MISSING"), Error);
    try {
        ok.field("missing");
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Field 'missing' not found");
    }
}

TEST_F(Db, SourceStatementsRunReadOnly) {
    Connection c("s", {"Database=" + path, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    Command cmd(c, "cmd");
    try {
        cmd.execute("insert into t (i) values (1)");
        FAIL() << "a source connection wrote";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
}

TEST_F(Db, ReopenedConnectionPreparesAgainAndChangingTheDatabaseCloses) {
    Connection c = connect();
    Query q(c, "q", "select count(*) from t");
    q.open();
    q.close();
    c.close();
    q.open(); // opens the connection on demand and prepares on the new attachment
    EXPECT_FALSE(q.eof());
    EXPECT_TRUE(c.connected());
    c.setParam("Database", dir / "other.fdb");
    EXPECT_FALSE(c.connected());
    EXPECT_EQ(c.param("database"), dir / "other.fdb");
}

TEST_F(Db, TheProgramSizesThePageCacheOfTheDatabasesItOpensItself) {
    // A server's cache is shared with the back office's own programs: it is left as the server has it.
    TDMSistemaCadastro remote({"127.0.0.1/3050:" + path, path});
    EXPECT_EQ(remote.FDConnectionBancoVela.param("CachePages"), "");
    TDMSistemaCadastro local({path, path});
    EXPECT_EQ(local.FDConnectionBancoVela.param("CachePages"), "128");
    Query buffers(local.FDConnectionBancoMovel, "buffers", "select mon$page_buffers from mon$database");
    buffers.open();
    EXPECT_EQ(buffers.row().getInt64(0), TDMSistemaCadastro::kMobileCachePages);
}

// Garbage a read meets is collected by the reader: the engine starts no thread of its own for it in
// this process, whose shutdown at the last detach could hang a scheduled run.
TEST_F(Db, TheProgramsOwnEngineStartsNoGarbageCollectorThread) {
    TDMSistemaCadastro dm({path, path});
    Query system(dm.FDConnectionBancoVela, "system",
                 "select cast(trim(mon$user) as varchar(31)) from mon$attachments where mon$system_flag = 1");
    std::vector<std::string> threads;
    for (system.open(); !system.eof(); system.next())
        threads.emplace_back(readString(system.row(), 0));
    EXPECT_EQ(threads, std::vector<std::string>{"Cache Writer"});
    dm.release();
}
