#include "tests/support/TestEnv.h"

#include "tests/support/FtpTestServer.h"

#include "db/Connection.h"
#include "db/Statement.h"
#include "db/Transaction.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vela::test {

namespace {

// Ends the embedded engine when the test program ends, as the program itself does: engine threads
// still running at exit race with LeakSanitizer's final scan in the sanitizer build.
class EngineShutdown : public ::testing::Environment {
public:
    void TearDown() override { fb::shutdownEngine(); }
};

[[maybe_unused]] ::testing::Environment* const engineShutdown = ::testing::AddGlobalTestEnvironment(new EngineShutdown);

} // namespace

} // namespace vela::test

// In the sanitizer build LeakSanitizer checks the program the tests start, at the end of every run.
// In the test programs themselves its exit scan crashed now and then (signal 11 in its tracer,
// test_app under load), so it is turned off there; AddressSanitizer and UBSan still watch them.
extern "C" int __lsan_is_turned_off() {
    return 1;
}

namespace vela::test {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vela-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    if (std::getenv("VELA_KEEP_TEST_DIRS"))
        return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string sourceDir() {
    return VELA_SOURCE_DIR;
}
std::string binaryDir() {
    return VELA_BINARY_DIR;
}
std::string backofficeSchema() {
    return sourceDir() + "/tests/sql/backoffice_schema.sql";
}
std::string mobileSchema() {
    return sourceDir() + "/db/mobile_schema.sql";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out << bytes;
}

namespace {

void isql(const std::string& scriptPath) {
    std::string cmd = std::string(VELA_ISQL) + " -q -b -i '" + scriptPath + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        throw std::runtime_error("cannot run isql");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int rc = pclose(p);
    if (rc != 0)
        throw std::runtime_error("isql failed: " + out);
}

} // namespace

void createDatabase(const std::string& path, const std::string& schemaFile, const std::string& extraSql) {
    fs::remove(path);
    std::string script = "CREATE DATABASE '" + path +
                         "' USER 'SYSDBA' PASSWORD 'quillfern' PAGE_SIZE 8192 DEFAULT CHARACTER SET NONE;\n" +
                         readFile(schemaFile) + "\n" + extraSql + "\nCOMMIT;\n";
    std::string scriptPath = path + ".sql";
    writeFile(scriptPath, script);
    isql(scriptPath);
    fs::remove(scriptPath);
}

void runSql(const std::string& path, const std::string& sql) {
    std::string script = "CONNECT '" + path + "' USER 'SYSDBA' PASSWORD 'quillfern';\n" + sql + "\nCOMMIT;\n";
    std::string scriptPath = path + ".run.sql";
    writeFile(scriptPath, script);
    isql(scriptPath);
    fs::remove(scriptPath);
}

std::vector<Row> query(const std::string& database, const std::string& sql) {
    Connection c("check", {"Database=" + database, "User_Name=sysdba", "Password=quillfern", "DriverID=FB"});
    Query q(c, "check", sql);
    q.open();
    std::vector<Row> rows;
    for (; !q.eof(); q.next()) {
        Message& m = q.row();
        Row row;
        for (size_t i = 0; i < m.size(); ++i) {
            const Column& col = m.column(i);
            if (m.isNull(i)) {
                row.push_back("NULL");
                continue;
            }
            switch (col.type) {
            case SQL_SHORT:
            case SQL_LONG:
            case SQL_INT64: {
                std::int64_t v = m.getInt64(i);
                if (col.scale == 0) {
                    row.push_back(std::to_string(v));
                } else {
                    std::int64_t f = 1;
                    for (int k = 0; k < -col.scale; ++k)
                        f *= 10;
                    std::string frac = std::to_string((v < 0 ? -v : v) % f);
                    frac.insert(0, static_cast<size_t>(-col.scale) - frac.size(), '0');
                    row.push_back((v < 0 ? "-" : "") + std::to_string((v < 0 ? -v : v) / f) + "." + frac);
                }
                break;
            }
            case SQL_DOUBLE:
            case SQL_FLOAT: {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.15g", m.getDouble(i));
                row.push_back(buf);
                break;
            }
            case SQL_TIMESTAMP: {
                ISC_TIMESTAMP ts = m.getTimestamp(i);
                unsigned y, mo, d, h, mi, s, fr;
                fb::util()->decodeDate(ts.timestamp_date, &y, &mo, &d);
                fb::util()->decodeTime(ts.timestamp_time, &h, &mi, &s, &fr);
                char buf[64];
                std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%04u", y, mo, d, h, mi, s, fr);
                row.push_back(buf);
                break;
            }
            case SQL_TYPE_DATE: {
                unsigned y, mo, d;
                fb::util()->decodeDate(m.getDate(i), &y, &mo, &d);
                char buf[32];
                std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", y, mo, d);
                row.push_back(buf);
                break;
            }
            case SQL_TEXT:
            case SQL_VARYING:
                row.emplace_back(m.getBytes(i));
                break;
            default:
                row.push_back("?");
            }
        }
        rows.push_back(std::move(row));
    }
    q.close();
    c.close();
    return rows;
}

Installation::Installation() {
    exe = dir / "atualizavela-movel";
    fs::copy_file(binaryDir() + "/atualizavela-movel", exe);
    // The program and its window's library, a folder copied whole.
    fs::copy_file(binaryDir() + "/atualizavela-movel-janela.so", dir / "atualizavela-movel-janela.so");
    mobileFolder = dir / "movel";
    fs::create_directories(mobileFolder + "/Banco");
    templatePath = mobileFolder + "/Banco/VAZIO.GDB";
    mobilePath = mobileFolder + "/Banco/BANCODADOS.gdb";
    fs::copy_file(binaryDir() + "/VAZIO.GDB", templatePath);
    sourcePath = dir / "backoffice.fdb";
    writeSettings();
}

void Installation::createSource(const std::string& rowsSql) {
    // The upload refuses a blank trade name: rows that name no company get the tests' own, which
    // no table copy takes (it has no razaosocial) and whose folder FtpTestServer provides.
    const bool named = rowsSql.find("nomefantasia") != std::string::npos;
    createDatabase(sourcePath, backofficeSchema(),
                   rowsSql +
                       (named ? ""
                              : "\ninsert into empresa (tid, ativo, nomefantasia, tipoempresa) values (999999, 1, '" +
                                    std::string(kTestCompany) + "', 'E');\n"));
}

Installation::~Installation() = default;

FtpTestServer& Installation::startFtp(const std::vector<std::string>& faultOptions) {
    ftpServer = std::make_unique<FtpTestServer>(faultOptions);
    ftpHost = "127.0.0.1";
    ftpPort = ftpServer->port();
    writeSettings();
    return *ftpServer;
}

void Installation::writeSettings() {
    std::string ini = "[paths]\nmobile_folder=" + mobileFolder + "\nsource_database=" + sourcePath + "\n";
    if (!ftpHost.empty())
        ini += "[ftp]\nhost=" + ftpHost + "\nport=" + std::to_string(ftpPort) + "\n" + ftpKeys;
    writeFile(dir / "atualizavela-movel.ini", ini);
}

RunResult Installation::run(const std::vector<std::string>& args, std::chrono::milliseconds timeout,
                            const std::map<std::string, std::string>& env) {
    std::string outPath = dir / "stdout.txt", errPath = dir / "stderr.txt";
    // Everything the child needs is made before fork: the test process has engine threads, and
    // only async-signal-safe calls may follow fork.
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        size_t eq = entry.find('=');
        if (eq != std::string::npos)
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    vars.erase("ATUALIZAVELA_CONFIG");
    vars["QT_QPA_PLATFORM"] = "offscreen";
    for (const auto& [k, v] : env)
        vars[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : vars)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{exe};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0)
        throw std::runtime_error("cannot create the output files in " + dir.path());
    const std::string cwd = dir.path();

    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    ::close(out);
    ::close(err);
    RunResult r;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            r.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

std::vector<std::string> logLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t crlf = content.find("\r\n", start);
        if (crlf == std::string::npos)
            break;
        lines.push_back(content.substr(start, crlf - start));
        start = crlf + 2;
    }
    if (!lines.empty() && lines.back().empty())
        lines.pop_back(); // the extra CR LF after the last line
    return lines;
}

VirtualDisplay::VirtualDisplay() {
    // Xvfb picks a free display number and writes it to the descriptor -displayfd names.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args{"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "800x600x24"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw std::runtime_error("cannot start Xvfb (the package xvfb)");
    }
    pid_ = pid;
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&p, 1, 30000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty())
        throw std::runtime_error("Xvfb gave no display number");
    name_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

} // namespace vela::test
