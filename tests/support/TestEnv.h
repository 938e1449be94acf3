#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vela::test {

class FtpTestServer;

// The trade name, and the folder on the test servers, of a back office whose rows name no company.
inline constexpr const char* kTestCompany = "Vela";

// A folder of its own for one test, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string sourceDir();
std::string binaryDir();
std::string backofficeSchema();
std::string mobileSchema();

// Creates an embedded database from a schema script, then runs extraSql (rows) on it.
void createDatabase(const std::string& path, const std::string& schemaFile, const std::string& extraSql = {});
// Runs an isql script against an existing database.
void runSql(const std::string& path, const std::string& sql);

using Row = std::vector<std::string>;
// Every value as text: NULL as "NULL", scaled numbers with their decimals, timestamps as
// "YYYY-MM-DD HH:MM:SS.ffff", dates as "YYYY-MM-DD", strings as their bytes.
std::vector<Row> query(const std::string& database, const std::string& sql);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

struct RunResult {
    int exitCode = -1;
    bool timedOut = false;
    std::string out;
    std::string err;
};

// An installation of the program in a temporary folder: the binary, its settings, the mobile
// folder with the empty template and a back-office database.
class Installation {
public:
    Installation();
    ~Installation();

    TempDir dir;
    std::string exe;
    std::string mobileFolder;
    std::string templatePath;
    std::string mobilePath;
    std::string sourcePath;
    std::string ftpHost;
    int ftpPort = 21;
    std::string ftpKeys; // more lines of the [ftp] section ("timeout=2\n")

    std::unique_ptr<FtpTestServer> ftpServer;
    // Starts a local FTP server with the program's account and points the settings at it.
    FtpTestServer& startFtp(const std::vector<std::string>& faultOptions = {});

    // Creates the back-office database from the schema plus rows; rows that give no trade name
    // (nomefantasia) get a company of kTestCompany's name.
    void createSource(const std::string& rowsSql = {});
    void writeSettings();
    RunResult run(const std::vector<std::string>& args = {"EXECUTAR"},
                  std::chrono::milliseconds timeout = std::chrono::seconds(120),
                  const std::map<std::string, std::string>& env = {});
    std::string logPath() const { return dir / "logAtualizaVela-Movel.txt"; }
    std::string log() const { return readFile(logPath()); }
};

// A virtual X display of its own (Xvfb, on a local socket only), for the program's window, which
// it opens only where there is a display to show it on. Ended with the holder.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    // The value of DISPLAY, as ":1".
    const std::string& name() const { return name_; }

private:
    int pid_ = -1;
    std::string name_;
};

// The run log file's lines (split at CR LF), without the final empty pair.
std::vector<std::string> logLines(const std::string& fileContent);

} // namespace vela::test
