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
#include <vector>

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

// The client of the protocol the settings choose, not yet connected.
std::unique_ptr<UploadTransport> makeTransport(const UploadSettings& settings);

struct UploadResult {
    std::int64_t bytes = 0;
    double seconds = 0; // the transfer of the file, from the STOR to its last byte acknowledged
};

// The file lands under a name of the run's own beside the published one,
// "BANCODADOS.gdb.<host>-<pid>-<random>.part" (with "-<try>" before ".part" from a second try on;
// see TemporaryName.h), and is renamed onto it once complete, so a device never downloads half a
// database. Where the server will not rename onto an existing file, the published one steps aside
// under the same name with ".old" meanwhile.
inline constexpr std::string_view kTemporarySuffix = ".part";
inline constexpr std::string_view kAsideSuffix = ".old";
// Beside the database, the company the folder belongs to: "BANCODADOS.gdb.empresa".
inline constexpr std::string_view kOwnerSuffix = ".empresa";

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
    // tradeName: the company's NOMEFANTASIA, Windows-1252; tid: its TID. In the company's folder:
    // fails before anything is stored when the owner file names another company (unless the owner
    // check is off), puts back a published file a killed swap left aside, writes the owner file,
    // deletes what other runs left under temporary names where they cannot be live uploads, stores
    // the file under the run's own name, checks its size where the server tells it, puts it in
    // place of the published file, quits and logs "Exportação Concluída.". A failure that a new try
    // could cure starts one, as the settings allow. A failure after the store began deletes the
    // temporary file, as far as the server lets it, before it comes out; the folder always keeps a
    // whole database under the published name. Once the new file is in place the upload is done:
    // a stop that comes later (or was held by the swap) is not this step's failure.
    UploadResult send(std::string_view tradeName, std::int64_t tid);
    // Drops the connection, for a caller that gives up after connect().
    void close() noexcept;

private:
    // The one place the window is serviced during the upload; a stop comes out of here.
    void service();
    // Runs while the transport waits for the server: services the window, except in a clean-up,
    // which only its time limit ends; during the swap a stop is held until the swap has ended.
    void whileWaiting();

    struct Folder;
    UploadResult attempt(const Folder& folder);
    void reportSent(std::int64_t bytesSoFar);
    void publish(const std::string& temporary, const std::string& aside, const std::string& target);
    bool checkOwner(const Folder& folder);
    bool restoreAside(const Folder& folder, const std::vector<std::string>& names);
    std::optional<std::int64_t> writeOwner(const Folder& folder, bool current);
    void removeLeftovers(const Folder& folder, const std::vector<std::string>& names, bool published,
                         std::optional<std::int64_t> serverNow);
    std::optional<std::int64_t> timeOf(const std::string& remotePath);
    void discard(const std::string& temporary) noexcept;
    bool cleanUp(const std::function<void()>& work) noexcept;
    bool finalNameTaken(const std::string& target) noexcept;
    bool beginNewTry(const TransferError& failure);
    std::string runName(const std::string& target, std::string_view suffix) const;
    std::string where(const std::string& remotePath) const;

    UploadHost& host_;
    UploadSettings settings_;
    std::string server_;
    bool ownerCheck_ = true;
    int retries_ = 0;
    std::chrono::seconds retryWait_{};
    std::string local_;
    std::int64_t size_ = 0;
    int try_ = 1;
    std::chrono::seconds replyTimeout_{};
    bool holdStops_ = false;
    std::chrono::steady_clock::time_point swapUntil_;
    bool stopTaken_ = false; // the held stop came out when the swap's deadline passed
    std::exception_ptr heldStop_;
    std::optional<std::chrono::steady_clock::time_point> cleanupUntil_;
    bool cleanupTimedOut_ = false;
    std::optional<GaugeScale> scale_;
    std::unique_ptr<UploadTransport> transport_;
};

} // namespace vela
