#include "tests/support/FtpTestServer.h"

#include <chrono>
#include <sstream>

namespace vela::test {

FtpTestServer::FtpTestServer(const std::vector<std::string>& faultOptions) {
    std::filesystem::create_directories(downloads());
    const FtpSettings account;
    std::vector<std::string> argv = {VELA_PYTHON,  VELA_SOURCE_DIR "/tests/support/ftp_server.py",
                                     "--port",     "0",
                                     "--home",     home().string(),
                                     "--user",     account.user,
                                     "--password", account.password,
                                     "--log",      work_ / "ftp.log"};
    argv.insert(argv.end(), faultOptions.begin(), faultOptions.end());
    process_.emplace(argv);
    port_ = std::stoi(process_->readLine(std::chrono::seconds(15)));
}

FtpSettings FtpTestServer::settings() const {
    FtpSettings s;
    s.host = "127.0.0.1";
    s.port = port_;
    return s;
}

void FtpTestServer::stop() {
    if (process_)
        process_->stop();
}

std::string FtpTestServer::stopAndReadLog() {
    stop();
    return readFile(work_ / "ftp.log");
}

int countLines(const std::string& log, const std::string& needle) {
    std::istringstream lines(log);
    int count = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.find(needle) != std::string::npos)
            ++count;
    return count;
}

} // namespace vela::test
