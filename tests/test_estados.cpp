// The table copy procedure on the state table, in process against real embedded databases.
#include "common/Error.h"
#include "db/ModuloDadosCadastro.h"
#include "sync/TableCopier.h"
#include "sync/Tables.h"
#include "tests/support/Helpers.h"
#include "tests/support/TestEnv.h"

#include <gtest/gtest.h>

using namespace vela;
using test::query;
using test::Row;

namespace {

class Estados : public ::testing::Test, protected test::InProcess {
protected:
    void SetUp() override {
        test::createDatabase(mobile, test::mobileSchema(), "insert into estado (tid, uf, ativo) values (99, 'ZZ', 1);");
    }
    void createSource(const std::string& rows) { test::createDatabase(source, test::backofficeSchema(), rows); }
    void finish() { dm->release(); }

    test::RecordingHost host;
};

// The recording host with a stop token the copy looks at.
struct StoppableHost : test::RecordingHost {
    StopToken stop;
    const StopToken* stopToken() const override { return &stop; }
};

} // namespace

TEST_F(Estados, CopiesActiveRowsWithNullsAsTheirRuleSays) {
    createSource("alter table estado alter column uf type varchar(10);\n"
                 "insert into estado values (3, 'RJX', 'Rio', 12.5, 1, '2024-05-06 07:08:09.1234', "
                 "'2024-05-07 00:00:00', 33);\n"
                 "insert into estado (tid, uf, descricao, icms, ativo, data, dataatualizacao, codibge) values "
                 "(1, null, null, null, 1, null, null, null);\n"
                 "insert into estado (tid, uf, ativo) values (2, 'XX', 0);\n"
                 "insert into estado (tid, uf, descricao, ativo) values (4, 'S\xc3', 'S\xe3o Paulo', 1);\n");
    start();
    runTableCopy(findCopy("sincronizaEstados").copy, *dm, host);
    finish();

    EXPECT_EQ(host.lines, (std::vector<std::string>{
                              "***** Tabela Estados *****", "Sincronizando Estado: ", "Sincronizando Estado: RJX",
                              "Sincronizando Estado: S\xc3", "", "Finalizando Tabela Estado", ""}));
    EXPECT_EQ(host.maximum, 3);
    EXPECT_EQ(host.position, 3);
    EXPECT_EQ(host.events, 3);

    auto rows = query(mobile, "select * from estado order by tid");
    ASSERT_EQ(rows.size(), 3u); // the row 99 that was there before is gone, the inactive one never came
    EXPECT_EQ(rows[0], (Row{"1", "", "", "0", "1", "0001-01-01 00:00:00.0000", "0001-01-01 00:00:00.0000", "0"}));
    EXPECT_EQ(rows[1],
              (Row{"3", "RJ", "Rio", "12.5", "1", "2024-05-06 07:08:09.1234", "2024-05-07 00:00:00.0000", "33"}));
    EXPECT_EQ(rows[2][2], "S\xe3o Paulo");
}

TEST_F(Estados, NoActiveRowsStillEmptiesTheTable) {
    createSource("insert into estado (tid, uf, ativo) values (2, 'XX', 0);");
    start();
    runTableCopy(findCopy("sincronizaEstados").copy, *dm, host);
    finish();
    EXPECT_EQ(host.lines,
              (std::vector<std::string>{"***** Tabela Estados *****", "", "Finalizando Tabela Estado", ""}));
    EXPECT_EQ(host.maximum, 0);
    EXPECT_EQ(host.position, 0);
    EXPECT_TRUE(query(mobile, "select * from estado").empty());
}

TEST_F(Estados, EveryRowIsDurableAsSoonAsItIsPosted) {
    createSource("insert into estado (tid, uf, ativo) values (1, 'AA', 1);\n"
                 "insert into estado (tid, uf, ativo) values (2, 'BB', 1);\n"
                 "insert into estado (tid, uf, ativo) values (3, 'CC', 1);");
    start();
    std::vector<std::string> seen;
    host.onEvents = [&] { seen.push_back(query(mobile, "select count(*) from estado")[0][0]); };
    runTableCopy(findCopy("sincronizaEstados").copy, *dm, host);
    // Before each row a second attachment sees every row posted so far: the DELETE and each
    // state row were committed at once.
    EXPECT_EQ(seen, (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(query(mobile, "select count(*) from estado")[0][0], "3");
    finish();

    // A stop raised during an event round ends the copy before the next row, by the run's message.
    start();
    seen.clear();
    StoppableHost stoppable;
    stoppable.onEvents = [&] {
        seen.push_back(query(mobile, "select count(*) from estado")[0][0]);
        if (seen.size() == 2)
            stoppable.stop.raise();
    };
    try {
        runTableCopy(findCopy("sincronizaEstados").copy, *dm, stoppable);
        ADD_FAILURE() << "the copy went on after the stop";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Execu\xc3\xa7\xc3\xa3o interrompida.");
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(query(mobile, "select count(*) from estado")[0][0], "1");
    finish();
}

TEST_F(Estados, GaugeStaysAtItsMaximumWhenTheCountIsShort) {
    createSource("insert into estado (tid, uf, ativo) values (1, 'AA', 1);\n"
                 "insert into estado (tid, uf, ativo) values (2, 'BB', 1);\n"
                 "insert into estado (tid, uf, ativo) values (3, 'CC', 1);");
    TableCopy copy = tables::estados;
    copy.suffix = "ContaCurta";
    copy.countSql = "select count(tid) - 2 from estado where ativo = 1";
    start();
    runTableCopy(copy, *dm, host);
    finish();
    EXPECT_EQ(host.maximum, 1);
    EXPECT_EQ(host.position, 1);
    EXPECT_EQ(query(mobile, "select count(*) from estado")[0][0], "3");
}

// Where nothing shows the gauge, the count is not run at all: a count that cannot run fails only the
// copy whose gauge is seen.
TEST_F(Estados, ACopyWhoseGaugeNobodySeesRunsNoCount) {
    createSource("insert into estado (tid, uf, ativo) values (1, 'AA', 1);");
    TableCopy copy = tables::estados;
    copy.suffix = "SemConta";
    copy.countSql = "select count(nope) from estado";
    struct Unseen : test::RecordingHost {
        bool showsCounts() const override { return false; }
    } unseen;
    start();
    runTableCopy(copy, *dm, unseen);
    finish();
    EXPECT_EQ(query(mobile, "select uf from estado"), (std::vector<Row>{{"AA"}}));
    start();
    EXPECT_THROW(runTableCopy(copy, *dm, host), Error);
    finish();
}

TEST_F(Estados, DeclaredFieldsAreCheckedAndSmallintRangeEnforced) {
    createSource("insert into estado (tid, uf, ativo, codibge) values (1, 'AA', 1, 40000);");
    auto failure = [&](TableCopy copy) -> std::string {
        start();
        try {
            runTableCopy(copy, *dm, host);
        } catch (const Error& e) {
            finish();
            return e.what();
        }
        finish();
        return "no failure";
    };
    TableCopy missing = tables::estados;
    missing.suffix = "Missing";
    missing.fields.push_back({"CODIBGE", "NOPE", Rule::Integer});
    EXPECT_EQ(failure(missing), "Field 'NOPE' not found");

    TableCopy mismatch = tables::estados;
    mismatch.suffix = "Mismatch";
    mismatch.fields[1] = {"UF", "UF", Rule::Integer};
    EXPECT_EQ(failure(mismatch), "Type mismatch for field 'UF', expecting: Integer actual: String");

    TableCopy range = tables::estados;
    range.suffix = "Range";
    range.fields[4] = {"ATIVO", "CODIBGE", Rule::Smallint};
    EXPECT_EQ(failure(range), "40000 is not a valid value for field 'ATIVO'. The allowed range is -32768 to 32767");
}

TEST_F(Estados, AMissingMobileTableFailsAtItsDelete) {
    createSource("");
    test::runSql(mobile, "drop table estado;");
    start();
    try {
        runTableCopy(findCopy("sincronizaEstados").copy, *dm, host);
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("ESTADO"), std::string::npos) << e.what();
    }
    EXPECT_EQ(host.lines, (std::vector<std::string>{"***** Tabela Estados *****"}));
    finish();
}
