#pragma once

#include "common/StepHost.h"
#include "publish/FtpClient.h"
#include "publish/GaugeScale.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

struct UploadResult {
    std::int64_t bytes = 0;
    double seconds = 0; // the transfer of the file, from the STOR to its last byte acknowledged
};

// The file lands under this name beside the published one, and is renamed onto it once complete,
// so a device never downloads half a database.
inline constexpr std::string_view kTemporarySuffix = ".part";

// Step 2: sends the mobile database to the company's folder on the publishing server. In stages,
// because the window handles a failure of each its own way: measure() (the file cannot be opened),
// connect() (the server cannot be reached or refuses the login), send().
class UploadStep {
public:
    UploadStep(UploadHost& host, FtpSettings settings, std::string localPath);

    // Sets the gauge to 0 of the file's size. Throws Error("Cannot open file ...").
    void measure();
    // Connects and logs in.
    void connect();
    // tradeName: the company's NOMEFANTASIA, Windows-1252. Stores the file under the temporary
    // name, checks its size where the server tells it, renames it onto the published name (where
    // the server will not rename onto an existing file, deletes that first), quits and logs
    // "Exportação Concluída.". A failure after the store began deletes the temporary file, as far
    // as the server lets it, before it comes out.
    UploadResult send(std::string_view tradeName);
    // Drops the connection, for a caller that gives up after connect().
    void close() noexcept;

private:
    void IdFTP1Work(std::int64_t bytesSoFar);
    void publish(const std::string& temporary, const std::string& target);
    void discard(const std::string& temporary) noexcept;

    UploadHost& host_;
    FtpSettings settings_;
    std::string local_;
    std::int64_t size_ = 0;
    std::optional<GaugeScale> scale_;
    std::optional<FtpClient> IdFTP1;
};

} // namespace vela
