// Runs that overlap, runs that are stopped, and where the source connection points: the real binary
// with a real FTP server, and the window in this process.
#include "app/Settings.h"
#include "app/principal.h"
#include "db/ModuloDadosCadastro.h"
#include "tests/support/FtpTestServer.h"
#include "tests/support/Helpers.h"
#include "tests/support/RunRecordFile.h"
#include "tests/support/TestEnv.h"
#include "tests/support/WidgetsApp.h"

#include <QApplication>
#include <QJsonObject>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace vela::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kCompany = "insert into empresa (tid, ativo, razaosocial, nomefantasia, tipoempresa) "
                             "values (1, 1, 'R', 'Casa do Norte', 'E');\n";
const std::string kStates = "insert into estado (tid, uf, ativo) values (1, 'SP', 1);\n"
                            "insert into estado (tid, uf, ativo) values (2, 'RJ', 1);\n";
// Enough states that copying them takes a while (each one is committed on its own).
const std::string kManyStates = "set term ^;\nexecute block as declare i integer = 0; begin\n"
                                "while (i < 20000) do begin\n"
                                "insert into estado (tid, uf, ativo) values (:i, 'SP', 1); i = i + 1; end\nend^\n"
                                "set term ;^\n";
const std::string kInterrupted = "Execu\xe7\xe3o interrompida.";

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Whether an upload into the folder has begun, under whatever name it is stored.
bool receiving(const fs::path& folder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec) && entry.file_size(ec) > 0 &&
            entry.path().string().find(".empresa") == std::string::npos)
            return true;
    return false;
}

// The installed program run unattended in the background; killed if the test leaves first.
class Started {
public:
    explicit Started(const Installation& in, std::string arg = "EXECUTAR") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, in.dir.path().c_str());
        posix_spawn_file_actions_addopen(&actions, 2, (in.dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::string exe = in.exe;
        char* argv[] = {exe.data(), arg.empty() ? nullptr : arg.data(), nullptr};
        const int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error("cannot start " + exe);
    }
    ~Started() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    void signal(int s) const { ::kill(pid_, s); }
    // Whether the program has its own handler for the signal yet.
    bool handles(int s) const {
        const std::string status = readFile("/proc/" + std::to_string(pid_) + "/status");
        const size_t at = status.find("SigCgt:");
        return at != std::string::npos && (std::stoull(status.substr(at + 7), nullptr, 16) >> (s - 1) & 1);
    }
    // Whether the signal can reach the program only through the thread of its own that waits for
    // it: every other thread has it blocked, so no handler ever runs inside the database engine.
    // Nothing when the program has already ended.
    std::optional<bool> takenByItsOwnThreadOnly(int s) const {
        const std::string proc = "/proc/" + std::to_string(pid_);
        std::error_code ec;
        int waiting = 0;
        for (const auto& task : fs::directory_iterator(proc + "/task", ec)) {
            std::string status, wchan;
            try {
                status = readFile(task.path() / "status");
                wchan = readFile(task.path() / "wchan");
            } catch (const std::exception&) {
                continue; // a thread that has ended meanwhile
            }
            const size_t at = status.find("SigBlk:");
            if (at == std::string::npos || std::stoull(status.substr(at + 7), nullptr, 16) >> (s - 1) & 1)
                continue;
            if (wchan.find("sigtimedwait") == std::string::npos)
                return false;
            ++waiting;
        }
        if (waiting == 0 && readFile(proc + "/stat").find(") Z ") != std::string::npos)
            return std::nullopt;
        return waiting == 1;
    }
    // Whether one of the program's threads has this name (Qt's, say, once its application exists).
    bool hasThread(const std::string& name) const {
        std::error_code ec;
        for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/task", ec)) {
            try {
                if (readFile(task.path() / "comm") == name + "\n")
                    return true;
            } catch (const std::exception&) {
            }
        }
        return false;
    }
    bool running() { return !exitCode(0ms); }
    // The exit status once the program has ended by itself within timeout (-1: by a signal).
    std::optional<int> exitCode(std::chrono::milliseconds timeout) {
        std::optional<int> code;
        eventually(
            [&] {
                int status = 0;
                if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                    pid_ = -1;
                }
                code = status_;
                return code.has_value();
            },
            timeout);
        return code;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Every file in a folder, by name.
std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        found.insert(entry.path().filename().string());
    return found;
}

// Whether a mobile database is being built beside the published one.
bool building(const Installation& in) {
    return !buildingFile(in.mobilePath).empty();
}

} // namespace

TEST(RunSafety, ASecondInstanceFailsFastAndTouchesNothingWhileTheFirstPublishes) {
    Installation first;
    FtpTestServer& ftp = first.startFtp({"--throttle", "600000"});
    const fs::path remote = ftp.downloads() / "CasadoNo" / "BANCODADOS.gdb";
    fs::create_directories(remote.parent_path());
    first.createSource(kCompany + kStates);
    // A second installation of the program on the same mobile folder, as a scheduled run and a
    // person at the window would be.
    Installation second;
    second.mobileFolder = first.mobileFolder;
    second.mobilePath = first.mobilePath;
    second.sourcePath = first.sourcePath;
    second.ftpHost = first.ftpHost;
    second.ftpPort = first.ftpPort;
    second.writeSettings();

    Started run(first);
    ASSERT_TRUE(eventually([&] { return receiving(remote.parent_path()); })) << readFile(first.dir / "stderr.txt");
    struct stat before = {};
    ASSERT_EQ(::stat(first.mobilePath.c_str(), &before), 0);

    RunResult r = second.run();
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("Outra execu\xc3\xa7\xc3\xa3o em andamento: " + first.mobilePath), std::string::npos) << r.err;
    // The run that holds the lock owns the log file: the refused one writes none, only its record.
    EXPECT_FALSE(fs::exists(second.logPath()));
    QJsonObject record = runRecord(second.dir.path());
    EXPECT_EQ(record["result"].toString(), "refused");
    EXPECT_EQ(record["exit_status"].toInt(), 3);
    EXPECT_EQ(record["step"].toInt(), 0);
    EXPECT_EQ(record["message"].toString().toStdString(),
              "Outra execu\xc3\xa7\xc3\xa3o em andamento: " + first.mobilePath);
    EXPECT_TRUE(run.running()) << "the first run should still be uploading";
    struct stat after = {};
    ASSERT_EQ(::stat(first.mobilePath.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    EXPECT_EQ(run.exitCode(60s), 0) << readFile(first.dir / "stderr.txt");
    EXPECT_EQ(readFile(remote), readFile(first.mobilePath));
    const std::string gfix =
        "gfix -v -full -user SYSDBA " + first.mobilePath + " > " + (first.dir / "gfix.txt") + " 2>&1";
    EXPECT_EQ(std::system(gfix.c_str()), 0) << readFile(first.dir / "gfix.txt");
    EXPECT_EQ(readFile(first.dir / "gfix.txt"), "");
    // The template copy leaves no file of its own beside the database.
    EXPECT_EQ(names(fs::path(first.mobilePath).parent_path()),
              (std::set<std::string>{"BANCODADOS.gdb", "BANCODADOS.gdb.lock", "VAZIO.GDB"}));

    // A lock that cannot be made at all (here a folder in its place; a read-only mobile folder alike)
    // is this run's failure, with the path and the system's reason: no other run is involved.
    const std::string lock = first.mobilePath + ".lock";
    fs::remove(lock);
    fs::create_directory(lock);
    r = second.run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "Cannot create file \"" + lock + "\". Is a directory")) << r.err;
    EXPECT_FALSE(contains(r.err, "Outra execu")) << r.err;
    EXPECT_EQ(logLines(second.log()).back(), "Cannot create file \"" + lock + "\". Is a directory");
    record = runRecord(second.dir.path());
    EXPECT_EQ(record["result"].toString(), "failed");
    EXPECT_EQ(record["exit_status"].toInt(), 1);
}

TEST(RunSafety, AKilledStep1LeavesThePreviousDatabaseWhole) {
    Installation in;
    in.startFtp({"--make-folders"});
    in.createSource(kCompany + kStates);
    ASSERT_EQ(in.run().exitCode, 0);
    const std::string previous = readFile(in.mobilePath);

    runSql(in.sourcePath, "delete from estado;\n" + kManyStates);
    {
        Started run(in);
        ASSERT_TRUE(eventually([&] { return building(in); }));
        run.signal(SIGKILL);
        run.exitCode(5s);
    }
    EXPECT_EQ(readFile(in.mobilePath), previous);

    // The next run cannot copy the template: it builds from a copy of the previous database, which
    // a process that has it open keeps reading whole, and publishes it with forced writes and the
    // engine's reserve whatever that copy had.
    vela::Connection("previous", {"Database=" + in.mobilePath, "User_Name=sysdba", "Password=quillfern", "DriverID=IB"})
        .setFileSettings(false, false);
    const std::string before = readFile(in.mobilePath);
    const int held = ::open(in.mobilePath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    fs::rename(in.templatePath, in.dir / "VAZIO.GDB");
    // A run log a killed run was saving goes; one that a live run (of another mobile folder sharing
    // the log folder) writes now is locked and stays, as do names that are not the log's own.
    const std::set<std::string> kept{"logAtualizaVela-Movel.txt.Xy34Zw", "logAtualizaVela-Movel.txt.old",
                                     "logAtualizaVela-Movel.txt.Ab12Cd7", "outro.txt.Ab12Cd"};
    for (const std::string& name : kept)
        writeFile(in.dir / name, "x");
    writeFile(in.dir / "logAtualizaVela-Movel.txt.Ab12Cd", "killed");
    const int writing = ::open((in.dir / "logAtualizaVela-Movel.txt.Xy34Zw").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(writing, LOCK_EX), 0);
    RunResult r = in.run();
    ::close(writing);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(in.dir / "logAtualizaVela-Movel.txt.Ab12Cd"));
    for (const std::string& name : kept)
        EXPECT_TRUE(fs::exists(in.dir / name)) << name;
    EXPECT_TRUE(contains(in.log(), "\r\nErro ao Copiar\r\n"));
    EXPECT_FALSE(building(in)); // the killed run's build is gone too
    EXPECT_TRUE(headerSaysForcedWrites(in.mobilePath));
    EXPECT_TRUE(headerSaysReserve(in.mobilePath));
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "20000");
    std::string held_bytes(before.size() + 1, '\0');
    EXPECT_EQ(::pread(held, held_bytes.data(), held_bytes.size(), 0), static_cast<ssize_t>(before.size()));
    held_bytes.resize(before.size());
    EXPECT_TRUE(held_bytes == before) << "the file was written in place";
    ::close(held);
}

TEST(RunSafety, ASignalStopsTheRunAtItsNextRowOrProgressReport) {
    struct Case {
        int signal;
        bool duringUpload;
    };
    for (const Case c : {Case{SIGTERM, false}, Case{SIGTERM, true}, Case{SIGHUP, false}}) {
        SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.duringUpload ? " during the upload" : " during step 1"));
        Installation in;
        // Slow enough that the stop comes while the server is still receiving.
        FtpTestServer& ftp = in.startFtp({"--throttle", c.duringUpload ? "300000" : "1000000"});
        const fs::path folder = ftp.downloads() / "CasadoNo";
        fs::create_directories(folder);
        in.createSource(kCompany + (c.duringUpload ? kStates : kManyStates));

        Started run(in);
        // Step 1 is copying once the new mobile database is being built.
        ASSERT_TRUE(eventually([&] { return c.duringUpload ? receiving(folder) : building(in); }));
        run.signal(c.signal);
        EXPECT_TRUE(run.exitCode(5s) == 1) << readFile(in.dir / "stderr.txt");
        EXPECT_EQ(readFile(in.dir / "stderr.txt"), "Execu\xc3\xa7\xc3\xa3o interrompida.\n");
        const std::vector<std::string> lines = logLines(in.log());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), kInterrupted);
        EXPECT_EQ(c.duringUpload, std::count(lines.begin(), lines.end(), "Finalizando Tabela CVF") == 1);
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "Exporta\xe7\xe3o Conclu\xed"
                             "da."),
                  0);
        const QJsonObject record = runRecord(in.dir.path());
        EXPECT_EQ(record["result"].toString(), "stopped");
        EXPECT_EQ(record["exit_status"].toInt(), 1);
        EXPECT_EQ(record["step"].toInt(), c.duringUpload ? 2 : 1);
        EXPECT_EQ(record["message"].toString(), "Execu\u00e7\u00e3o interrompida.");
        // Nothing was published (the folder is claimed for the company), and the temporary files
        // are gone.
        EXPECT_EQ(names(folder),
                  c.duringUpload ? std::set<std::string>{"BANCODADOS.gdb.empresa"} : std::set<std::string>{});
        EXPECT_FALSE(building(in));
        EXPECT_EQ(fs::exists(in.mobilePath), c.duringUpload);
    }

    // A signal in the last moments of a run, while the upload goes on or in the few milliseconds
    // between the server's rename and the end of the process, never leaves the process hanging in
    // the database engine or crashing on its way out, and the exit status says whether it published.
    Installation last;
    FtpTestServer& ftp = last.startFtp({"--throttle", "4000000"});
    last.ftpKeys = "timeout=2\n";
    last.writeSettings();
    const fs::path published = ftp.downloads() / "CasadoNo" / "BANCODADOS.gdb";
    fs::create_directories(published.parent_path());
    last.createSource(kCompany + kStates);
    bool threadsSeen = false;
    for (int i = 0; i < 24; ++i) {
        const bool afterRename = i % 3 != 0;
        const auto delay = std::chrono::milliseconds(afterRename ? i % 16 : i * 600 / 24);
        SCOPED_TRACE("signal " + std::to_string(delay.count()) + " ms after " +
                     (afterRename ? "the rename" : "the upload began"));
        fs::remove(published);
        Started run(last);
        ASSERT_TRUE(
            eventually([&] { return afterRename ? fs::exists(published) : receiving(published.parent_path()); }, 30s));
        if (const std::optional<bool> taken = run.takenByItsOwnThreadOnly(SIGTERM); taken && !threadsSeen) {
            EXPECT_TRUE(*taken);
            threadsSeen = true;
        }
        std::this_thread::sleep_for(delay);
        run.signal(SIGTERM);
        const std::optional<int> code = run.exitCode(7s);
        ASSERT_TRUE(code.has_value()) << "still running";
        ASSERT_NE(*code, -1) << "ended by a signal";
        EXPECT_EQ(*code == 0, fs::exists(published)) << *code << readFile(last.dir / "stderr.txt");
        EXPECT_TRUE(*code == 0 || logLines(last.log()).back() == kInterrupted);
    }
    EXPECT_TRUE(threadsSeen);

    // --check, stopped while the server keeps its login waiting, ends at once, not at the time-out.
    Installation check;
    check.startFtp({"--ignore-pass"});
    check.ftpKeys = "timeout=60\n";
    check.writeSettings();
    check.createSource(kCompany);
    Started checking(check, "--check");
    // The client's own handler is in once the back office is open.
    ASSERT_TRUE(eventually([&] { return checking.handles(SIGTERM); }));
    checking.signal(SIGTERM);
    EXPECT_EQ(checking.exitCode(5s), 1);

    // A window waiting for a click just closes, as it would at the close button. Only a display
    // shows a window.
    Installation in;
    VirtualDisplay display;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string previous = platform ? platform : "";
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("DISPLAY", display.name().c_str(), 1);
    Started idle(in, "");
    // Settings refused before the run exists: the error box waits for a click, and a signal ends
    // the process as it always did.
    Installation refused;
    writeFile(refused.dir / "atualizavela-movel.ini", "[fpt]\nhost=x\n");
    Started boxed(refused, "");
    ::unsetenv("DISPLAY");
    if (platform)
        ::setenv("QT_QPA_PLATFORM", previous.c_str(), 1);
    else
        ::unsetenv("QT_QPA_PLATFORM");
    ASSERT_TRUE(eventually([&] { return idle.handles(SIGTERM); }));
    idle.signal(SIGTERM);
    EXPECT_EQ(idle.exitCode(5s), 0);
    EXPECT_FALSE(fs::exists(in.logPath()));
    ASSERT_TRUE(eventually([&] { return boxed.hasThread("QXcbEventQueue"); }));
    boxed.signal(SIGTERM);
    EXPECT_EQ(boxed.exitCode(5s), -1);
}

TEST(RunSafety, TheSourceConnectionOpensOnTheSourcePathOfTheMoment) {
    // maquinas.txt leads to the back-office database; the configured path names nothing.
    Installation in;
    in.startFtp({"--make-folders"});
    in.createSource(kCompany + kStates);
    fs::create_directory(in.dir / "dados");
    fs::rename(in.sourcePath, in.dir / "dados/BANCODADOS.FDB");
    writeFile(in.dir / "maquinas.txt", "present");
    writeFile(in.mobileFolder + "/maquinas.txt", in.dir / "dados\n");
    RunResult r = in.run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "2");

    // In the window, a wrong path typed into the field fails step 1; once corrected, step 1 runs.
    widgetsApp();
    vela::AppSettings settings;
    settings.mobileFolder = QString::fromStdString(in.mobileFolder);
    settings.sourceDatabase = QString::fromStdString(in.dir / "nowhere.fdb");
    settings.logFolder = QString::fromStdString(in.dir.path());
    vela::TfrmPrincipal w(settings);
    vela::TDMSistemaCadastro dm({in.dir / "nowhere.fdb", in.mobilePath});
    w.setDataModule(&dm);
    w.Button5Click();
    EXPECT_NE(w.lastError().toStdString().find("nowhere.fdb"), std::string::npos) << w.lastError().toStdString();
    runSql(in.dir / "dados/BANCODADOS.FDB", "delete from estado where tid = 2;");
    w.Edit2->setText(QString::fromStdString(in.dir / "dados/BANCODADOS.FDB"));
    w.Button5Click();
    EXPECT_FALSE(w.ended());
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "1");
    // The idle window holds no database open: a scheduled run beside it opens the back office.
    r = in.run();
    EXPECT_EQ(r.exitCode, 0) << r.err;

    // Closing the window during the step stops it at its next row, as a failure; what was
    // published stays as it was.
    QTimer::singleShot(0, &w, [&w] { w.close(); });
    w.Button5Click();
    EXPECT_TRUE(w.ended());
    EXPECT_EQ(w.exitCode(), 1);
    EXPECT_EQ(w.runLog().lines().last().toStdString(), "Execu\xc3\xa7\xc3\xa3o interrompida.");
    w.setDataModule(nullptr);
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "1");
    EXPECT_FALSE(building(in));
}

namespace {

// A window on which a stop is asked as soon as a given line is logged.
class StopAtLine : public vela::TfrmPrincipal {
public:
    StopAtLine(const vela::AppSettings& settings, std::string line) : TfrmPrincipal(settings), line_(std::move(line)) {}
    void appendLog(std::string_view line) override {
        TfrmPrincipal::appendLog(line);
        if (line == line_)
            requestStop();
    }

private:
    std::string line_;
};

// The samples of a node_exporter textfile as the Prometheus client library reads them, one
// "<name> <company> <type> <value>" line each.
std::string metrics(const std::string& path) {
    const std::string script = "import sys\n"
                               "from prometheus_client.parser import text_string_to_metric_families\n"
                               "for f in text_string_to_metric_families(open(sys.argv[1]).read()):\n"
                               "    for s in f.samples:\n"
                               "        print(s.name, s.labels['company'], f.type, repr(s.value))\n";
    const std::string out = path + ".parsed";
    const std::string command = std::string(VELA_PYTHON) + " -c \"" + script + "\" '" + path + "' > '" + out + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << readFile(out);
    return readFile(out);
}

// The value of one gauge in metrics' output.
double gauge(const std::string& parsed, const std::string& name) {
    const size_t at = parsed.find("atualizavela_movel_" + name + " loja2 gauge ");
    return at == std::string::npos ? -1 : std::stod(parsed.substr(parsed.find(" gauge ", at) + 7));
}

} // namespace

TEST(RunSafety, AStopAfterTheLastRowIsStillAStopButOneAfterTheServersRenameIsNot) {
    Installation in;
    FtpTestServer& ftp = in.startFtp({"--make-folders"});
    in.createSource(kCompany + kStates);
    ASSERT_EQ(in.run().exitCode, 0);
    widgetsApp();
    vela::AppSettings settings = vela::loadSettingsFrom(QString::fromStdString(in.dir / "atualizavela-movel.ini"));
    settings.file = QString::fromStdString(in.dir / "loja2.ini"); // the instance's name labels its gauges
    settings.logFolder = QString::fromStdString(in.dir.path());
    settings.metricsFile = QString::fromStdString(in.dir / "loja2.prom");

    // The server has renamed the file when the stop comes: the run published all the same.
    {
        StopAtLine w(settings, "Exporta\xe7\xe3o Conclu\xed"
                               "da.");
        vela::TDMSistemaCadastro dm({in.sourcePath, in.mobilePath});
        w.setDataModule(&dm);
        w.run().runUnattended();
        EXPECT_TRUE(w.ended());
        EXPECT_EQ(w.exitCode(), 0) << w.lastError().toStdString();
        EXPECT_EQ(logLines(in.log()).back(), "Salvando log em: " + in.logPath());
        w.setDataModule(nullptr);
    }
    EXPECT_EQ(readFile(ftp.downloads() / "CasadoNo/BANCODADOS.gdb"), readFile(in.mobilePath));
    EXPECT_EQ(runRecord(in.dir.path())["result"].toString(), "published");
    std::string parsed = metrics(settings.metricsFile.toStdString());
    const double published = gauge(parsed, "last_run_timestamp_seconds");
    EXPECT_NEAR(published, static_cast<double>(std::time(nullptr)), 60) << parsed;
    EXPECT_EQ(gauge(parsed, "last_success_timestamp_seconds"), published);
    EXPECT_GE(gauge(parsed, "last_run_duration_seconds"), 0);
    EXPECT_EQ(gauge(parsed, "last_run_rows"), 3); // the company and two states
    EXPECT_EQ(gauge(parsed, "last_run_bytes"), static_cast<double>(fs::file_size(in.mobilePath)));
    EXPECT_EQ(gauge(parsed, "last_run_exit_status"), 0);
    EXPECT_EQ(fs::status(settings.metricsFile.toStdString()).permissions() & fs::perms::others_read,
              fs::perms::others_read);

    // The last row copied: a stop still stops the run, and nothing is published.
    const std::string previous = readFile(in.mobilePath);
    StopAtLine w(settings, "Finalizando Tabela CVF");
    vela::TDMSistemaCadastro dm({in.sourcePath, in.mobilePath});
    w.setDataModule(&dm);
    runSql(in.sourcePath, "delete from estado;");
    w.Button5Click();
    EXPECT_TRUE(w.ended());
    EXPECT_EQ(w.exitCode(), 1);
    EXPECT_EQ(logLines(in.log()).back(), kInterrupted);
    w.setDataModule(nullptr);
    EXPECT_EQ(readFile(in.mobilePath), previous);
    EXPECT_FALSE(building(in));
    // The textfile keeps the last success.
    parsed = metrics(settings.metricsFile.toStdString());
    EXPECT_GE(gauge(parsed, "last_run_timestamp_seconds"), published);
    EXPECT_EQ(gauge(parsed, "last_success_timestamp_seconds"), published) << parsed;
    EXPECT_EQ(gauge(parsed, "last_run_exit_status"), 1);
    EXPECT_EQ(gauge(parsed, "last_run_bytes"), 0);
}

namespace {

// The window, counting the event rounds a step asks of it.
class CountingWindow : public vela::TfrmPrincipal {
public:
    using TfrmPrincipal::TfrmPrincipal;
    void processEvents() override {
        ++rounds;
        if (onRound)
            onRound();
        TfrmPrincipal::processEvents();
    }
    long rounds = 0;
    std::function<void()> onRound;
};

} // namespace

TEST(RunSafety, TheSystemsEventsReachTheWindowInTheMiddleOfALongTable) {
    // Input, the display server and the stop signal's pipe come through the system's event queue;
    // the window must ask for them during a table, not only between tables.
    Installation in;
    in.createSource(kCompany + kManyStates);
    widgetsApp();
    vela::AppSettings settings;
    settings.mobileFolder = QString::fromStdString(in.mobileFolder);
    settings.sourceDatabase = QString::fromStdString(in.sourcePath);
    settings.logFolder = QString::fromStdString(in.dir.path());
    CountingWindow w(settings);
    vela::TDMSistemaCadastro dm({in.sourcePath, in.mobilePath});
    w.setDataModule(&dm);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    QSocketNotifier readable(fds[0], QSocketNotifier::Read);
    long written = -1, heard = -1;
    QObject::connect(&readable, &QSocketNotifier::activated, [&] {
        readable.setEnabled(false);
        heard = w.rounds;
    });
    w.onRound = [&] {
        // The 20,000 states are nearly all of the step's rounds: this is well into them.
        if (w.rounds == 5000) {
            written = w.rounds;
            ASSERT_EQ(::write(fds[1], "x", 1), 1);
        }
    };
    w.Button5Click();
    EXPECT_FALSE(w.ended()) << w.lastError().toStdString();
    ASSERT_GE(written, 0);
    ASSERT_GE(heard, written);
    EXPECT_LT(heard - written, 10000) << "the pipe was heard only after the table";
    EXPECT_EQ(query(in.mobilePath, "select count(*) from estado")[0][0], "20000");
    w.setDataModule(nullptr);
    ::close(fds[0]);
    ::close(fds[1]);
}

namespace {

// A view that only records what the run shows it.
class RecordingView : public vela::RunView {
public:
    bool person = false;
    std::vector<std::string> shown; // "failure <message>", "began", "ended", "closed" in order
    vela::GaugeValue value;

    void setGaugePosition(int position) override { value.setProgress(position); }
    void setGaugeMaximum(int maximum) override { value.setMaxValue(maximum); }
    void stepGauge() override { value.addProgress(1); }
    const vela::GaugeValue& gauge() const override { return value; }
    bool showsGauge() const override { return gaugeSeen; }
    bool gaugeSeen = true;
    void showProgress(const QString&) override {}
    bool attended() const override { return person; }
    void showFailure(const QString& message) override { shown.push_back("failure " + message.toStdString()); }
    void dismissFailure() override {}
    void processEvents() override {}
    void betweenCalls() override {}
    void stepBegan(vela::RunStep) override { shown.push_back("began"); }
    void stepEnded(vela::RunStep) override { shown.push_back("ended"); }
    void closeView() override { shown.push_back("closed"); }
    QPlainTextEdit* logBox() override { return nullptr; }
    QString sourcePath() const override { return source; }
    void setSourcePath(const QString& path) override { source = path; }
    QString mobilePath() const override { return mobile; }
    QString source, mobile;
};

} // namespace

TEST(RunSafety, TheRunControllerShowsAStepsFailureAndEndsAnUnattendedRunOnIt) {
    Installation in;
    vela::AppSettings settings;
    settings.mobileFolder = QString::fromStdString(in.mobileFolder);
    settings.sourceDatabase = QString::fromStdString(in.dir / "nowhere.fdb");
    settings.logFolder = QString::fromStdString(in.dir.path());
    vela::TDMSistemaCadastro dm({in.dir / "nowhere.fdb", in.mobilePath});
    RecordingView view;
    view.source = settings.sourceDatabase;
    view.mobile = settings.mobilePath();
    vela::RunController run(settings, view);
    run.setDataModule(&dm);
    // The counts are run for a gauge someone sees; standard error is no terminal here.
    EXPECT_TRUE(run.showsCounts());
    view.gaugeSeen = false;
    EXPECT_FALSE(run.showsCounts());

    // With a person at the view, the failure waits there and the program goes on.
    view.person = true;
    EXPECT_FALSE(run.runStep1());
    ASSERT_EQ(view.shown.size(), 3u);
    EXPECT_EQ(view.shown[1].rfind("failure ", 0), 0u);
    EXPECT_NE(view.shown[1].find("nowhere.fdb"), std::string::npos) << view.shown[1];
    EXPECT_FALSE(run.ended());

    // Unattended with nobody there: the message is the saved log's last line, and the run ends as failed.
    view.person = false;
    view.shown.clear();
    run.runUnattended();
    EXPECT_EQ(view.shown, (std::vector<std::string>{"began", "closed", "ended"}));
    EXPECT_TRUE(run.ended());
    EXPECT_EQ(run.exitCode(), 1);
    const std::vector<std::string> lines = logLines(in.log());
    EXPECT_EQ(lines.back(), run.lastError().split(QLatin1Char('\n')).last().toStdString());
    EXPECT_NE(in.log().find("nowhere.fdb"), std::string::npos);
    EXPECT_EQ(lines.front(), "");
    run.setDataModule(nullptr);
}
