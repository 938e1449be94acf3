// The server-side copy child: Firebird's own copy (EXECUTE STATEMENT ... ON EXTERNAL DATA SOURCE in
// an EXECUTE BLOCK run on the mobile database) of the same rows as the table copies.
#include "bench/Catalogue.h"
#include "bench/ChildSupport.h"
#include "bench/Children.h"

namespace vela::bench {

int serverCopyMain(const ChildOptions& o) {
    Report rep;
    std::string mobilePath = o.folder + "/BANCODADOS.gdb";
    copyTemplate(o.templ, mobilePath);
    {
        Connection source("eds source",
                          {"Database=" + o.source, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
        Mobile mobile(mobilePath);
        auto quote = [](std::string_view text) {
            std::string out = "'";
            for (char c : text) {
                out += c;
                if (c == '\'')
                    out += '\'';
            }
            return out + "'";
        };
        // The blocks are written before the clock starts; only their execution is timed.
        struct Block {
            const CopyEntry* copy;
            std::string sql;
        };
        std::vector<Block> blocks;
        for (const CopyEntry& e : catalogue()) {
            if (!included(o, e.name))
                continue;
            for (const RawPart& part : e.raw) {
                std::vector<std::string> names = selectColumns(source, part.select);
                std::string sql = "EXECUTE BLOCK AS\n";
                for (size_t i = 0; i < names.size(); ++i)
                    sql += "  DECLARE V" + std::to_string(i) + " TYPE OF COLUMN " + std::string(part.mobileTable) +
                           "." + names[i] + ";\n";
                std::vector<std::string> vars, into;
                for (size_t i = 0; i < names.size(); ++i) {
                    vars.push_back(":V" + std::to_string(i));
                    into.push_back(":V" + std::to_string(i));
                }
                sql += "BEGIN\n  FOR EXECUTE STATEMENT " + quote(part.select) + "\n    ON EXTERNAL DATA SOURCE " +
                       quote(o.source) + " AS USER 'SYSDBA' PASSWORD 'quillfern'\n    INTO " + join(into) +
                       "\n  DO\n    INSERT INTO " + std::string(part.mobileTable) + " (" + join(names) + ") VALUES (" +
                       join(vars) + ");\nEND";
                blocks.push_back({&e, sql});
            }
        }
        source.close();
        Clock::time_point lastStart;
        auto t0 = Clock::now();
        double c0 = cpuSeconds();
        for (size_t i = 0; i < blocks.size();) {
            const CopyEntry* copy = blocks[i].copy;
            auto a = Clock::now();
            mobile.transaction.commitRetaining();
            for (; i < blocks.size() && blocks[i].copy == copy; ++i) {
                fb::Status st;
                mobile.connection.attachment()->execute(&st, mobile.transaction.handle(), 0, blocks[i].sql.c_str(),
                                                        SQL_DIALECT_V6, nullptr, nullptr, nullptr, nullptr);
            }
            if (i < blocks.size())
                rep.table(std::string(copy->name), seconds(a, Clock::now()));
            else
                lastStart = a;
        }
        mobile.transaction.commit();
        auto t1 = Clock::now();
        if (!blocks.empty())
            rep.table(std::string(blocks.back().copy->name), seconds(lastStart, t1));
        rep.set("seconds", seconds(t0, t1));
        rep.set("cpu_seconds", cpuSeconds() - c0);
        mobile.connection.close();
    }
    return finishChild(rep, mobilePath, o);
}

} // namespace vela::bench
