#include "tests/support/FtpTestServer.h"

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace vela::test {

FtpTestServer::FtpTestServer(const std::vector<std::string>& faultOptions) {
    std::filesystem::create_directories(downloads() / kTestCompany);
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
    // A new try starts at once: no test waits on the clock.
    s.retryWait = std::chrono::seconds(0);
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

TestCa::TestCa() {
    writeFile(dir / "san.ext", "subjectAltName=IP:127.0.0.1\n");
    const std::string script = "cd '" + dir.path() +
                               "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                               "-keyout ca.key -out ca.pem -days 2 -subj /CN=Vela-Test-CA "
                               "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign "
                               "&& openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                               "-keyout server.key -out server.csr -subj /CN=127.0.0.1 "
                               "&& openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                               "-out server.pem -days 2 -extfile san.ext";
    if (std::system(("(" + script + ") >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl could not make the test certificates");
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
