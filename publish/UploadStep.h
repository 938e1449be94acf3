#pragma once

#include "common/StepHost.h"
#include "publish/FtpClient.h"
#include "publish/GaugeScale.h"
#include "publish/SftpClient.h"
#include "publish/UploadTransport.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vela {

// What the upload needs from the window. Its processEvents also runs about every 50 ms while the
// server is awaited (connect, login, replies); a stop token raised by then aborts the upload, removes
// the temporary file and comes out as "Execução interrompida.".
class UploadHost : public StepHost {
public:
    // The store of the file begins. For progress shown outside the run log, as is the next one.
    virtual void uploadBegan(std::int64_t total) { (void)total; }
    // Every progress event, after its log line and before its processEvents.
    virtual void uploadProgress(std::int64_t bytesSoFar, std::int64_t total) {
        (void)bytesSoFar;
        (void)total;
    }
};

// Where and how the file goes: FTP (or FTPS) or SFTP.
using UploadSettings = std::variant<FtpSettings, SftpSettings>;

struct UploadResult {
    std::int64_t bytes = 0;
    double seconds = 0; // the transfer of the file, from the STOR to its last byte acknowledged
};

// The file lands under a name of the run's own beside the published one, "BANCODADOS.gdb.<pid>.part"
// ("BANCODADOS.gdb.<pid>-<try>.part" from a second try on), and is renamed onto it once complete, so
// a device never downloads half a database. Where the server will not rename onto an existing
// file, the published one steps aside under "BANCODADOS.gdb.<pid>.old" meanwhile.
inline constexpr std::string_view kTemporarySuffix = ".part";
inline constexpr std::string_view kAsideSuffix = ".old";

// Step 2: sends the mobile database to the company's folder on the publishing server, over FTP or
// SFTP alike. In stages,
// because the window handles a failure of each its own way: measure() (the file cannot be opened),
// connect() (the server cannot be reached or refuses the login), send().
class UploadStep {
public:
    UploadStep(UploadHost& host, UploadSettings settings, std::string localPath);

    // Sets the gauge to 0 of the file's size. Throws Error("Cannot open file ...").
    void measure();
    // Connects and logs in, trying again as the settings allow.
    void connect();
    // tradeName: the company's NOMEFANTASIA, Windows-1252. Deletes what earlier runs left under
    // temporary names, stores the file under the run's own, checks its size where the server tells
    // it, puts it in place of the published file, quits and logs "Exportação Concluída.". A failure
    // that a new try could cure starts one, as the settings allow. A failure after the store began
    // deletes the temporary file, as far as the server lets it, before it comes out; the folder
    // always keeps a whole database under the published name.
    UploadResult send(std::string_view tradeName);
    // Drops the connection, for a caller that gives up after connect().
    void close() noexcept;

private:
    // The one place the window is serviced during the upload; a stop comes out of here.
    void service();
    // Runs while the transport waits for the server: services the window, except in a clean-up,
    // which only its time limit ends; during the swap a stop is held until the swap has ended.
    void whileWaiting();

    UploadResult attempt(const std::string& target);
    void reportSent(std::int64_t bytesSoFar);
    void publish(const std::string& temporary, const std::string& aside, const std::string& target);
    void removeLeftovers(const std::string& target);
    void discard(const std::string& temporary) noexcept;
    bool cleanUp(const std::function<void()>& work) noexcept;
    bool finalNameTaken(const std::string& target) noexcept;
    bool beginNewTry(const TransferError& failure);
    std::string runName(const std::string& target, std::string_view suffix) const;

    UploadHost& host_;
    UploadSettings settings_;
    int retries_ = 0;
    std::chrono::seconds retryWait_{};
    std::string local_;
    std::int64_t size_ = 0;
    int try_ = 1;
    bool holdStops_ = false;
    std::exception_ptr heldStop_;
    std::optional<std::chrono::steady_clock::time_point> cleanupUntil_;
    bool cleanupTimedOut_ = false;
    std::optional<GaugeScale> scale_;
    std::unique_ptr<UploadTransport> transport_;
};

} // namespace vela
