#include "publish/UploadStep.h"

#include "common/Error.h"
#include "common/StopToken.h"
#include "publish/FileSize.h"
#include "publish/RemotePath.h"

#include <chrono>
#include <utility>

namespace vela {
namespace {

// A clean-up after a failure or a stop must not hold the program long on a server gone quiet.
constexpr std::chrono::seconds kCleanupLimit{5};

} // namespace

UploadStep::UploadStep(UploadHost& host, FtpSettings settings, std::string localPath)
    : host_(host), settings_(std::move(settings)), local_(std::move(localPath)) {}

void UploadStep::measure() {
    host_.setGaugePosition(0);
    size_ = tamanhoArquivo(local_);
    scale_.emplace(size_);
    host_.setGaugeMaximum(scale_->maximum());
}

void UploadStep::connect() {
    IdFTP1.emplace(settings_);
    IdFTP1->setWaiting([this] {
        host_.processEvents();
        if (const StopToken* stop = host_.stopToken())
            stop->check();
    });
    IdFTP1->connect();
}

UploadResult UploadStep::send(std::string_view tradeName) {
    checkRemoteFolder(tradeName);
    const std::string target = remotePath(tradeName);
    const std::string temporary = target + std::string(kTemporarySuffix);
    UploadResult result;
    try {
        host_.uploadBegan(size_);
        const auto started = std::chrono::steady_clock::now();
        IdFTP1->store(local_, temporary, [this](std::int64_t bytes) { IdFTP1Work(bytes); });
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        result.bytes = size_;
        // A 226 reply is not proof enough that the whole file arrived.
        if (auto size = IdFTP1->remoteSize(temporary); size && *size != size_)
            throw Error("Tamanho remoto difere do local: " + std::to_string(*size) + " / " + std::to_string(size_));
        publish(temporary, target);
    } catch (...) {
        discard(temporary);
        throw;
    }
    IdFTP1->quit();
    host_.appendLog("Exporta\xe7\xe3o Conclu\xed"
                    "da.");
    return result;
}

void UploadStep::close() noexcept {
    if (IdFTP1)
        IdFTP1->close();
}

void UploadStep::IdFTP1Work(std::int64_t bytesSoFar) {
    host_.setGaugePosition(scale_->position(bytesSoFar));
    host_.appendLog(std::to_string(bytesSoFar));
    host_.uploadProgress(bytesSoFar, size_);
    host_.processEvents();
    if (const StopToken* stop = host_.stopToken())
        stop->check();
}

void UploadStep::publish(const std::string& temporary, const std::string& target) {
    try {
        IdFTP1->rename(temporary, target);
    } catch (const RenameRefused& refused) {
        // Devices miss the file between the DELE and the RNTO, but never see half of one.
        try {
            IdFTP1->remove(target);
        } catch (const Error&) {
            throw refused;
        }
        IdFTP1->rename(temporary, target);
    }
}

void UploadStep::discard(const std::string& temporary) noexcept {
    // On the same connection when curl kept it, else on a new one. A stop already asked for must
    // not cut the clean-up short, so the window is not serviced; only the time limit ends it.
    const auto deadline = std::chrono::steady_clock::now() + kCleanupLimit;
    try {
        IdFTP1->setWaiting([deadline] {
            if (std::chrono::steady_clock::now() > deadline)
                throw Error("clean-up timed out");
        });
        IdFTP1->remove(temporary);
    } catch (...) {
        // Best effort: no device asks for the temporary name, and the next upload replaces it.
    }
}

} // namespace vela
