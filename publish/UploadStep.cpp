#include "publish/UploadStep.h"

#include "common/Cp1252.h"
#include "common/Error.h"
#include "common/StopToken.h"
#include "publish/FileSize.h"
#include "publish/RemotePath.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <utility>

namespace vela {
namespace {

// A clean-up after a failure or a stop must not hold the program long on a server gone quiet.
constexpr std::chrono::seconds kCleanupLimit{5};

// While waiting to try again the window is serviced this often.
constexpr std::chrono::milliseconds kWaitSlice{50};

// Whether name is one of the names an upload gives the file beside the published one, base: ours
// or another run's, or the fixed "BANCODADOS.gdb.part" of earlier versions.
bool leftover(std::string_view name, std::string_view base) {
    if (name.size() == base.size() + kTemporarySuffix.size() && name.starts_with(base) &&
        name.ends_with(kTemporarySuffix))
        return true;
    for (std::string_view suffix : {kTemporarySuffix, kAsideSuffix}) {
        if (name.size() <= base.size() + 1 + suffix.size() || !name.starts_with(base) ||
            name[base.size()] != '.' || !name.ends_with(suffix))
            continue;
        const std::string_view run = name.substr(base.size() + 1, name.size() - base.size() - 1 - suffix.size());
        if (std::all_of(run.begin(), run.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; }))
            return true;
    }
    return false;
}

} // namespace

UploadStep::UploadStep(UploadHost& host, UploadSettings settings, std::string localPath)
    : host_(host), settings_(std::move(settings)), local_(std::move(localPath)) {
    std::visit(
        [this](const auto& s) {
            retries_ = s.retries;
            retryWait_ = s.retryWait;
        },
        settings_);
}

void UploadStep::measure() {
    host_.setGaugePosition(0);
    size_ = tamanhoArquivo(local_);
    scale_.emplace(size_);
    host_.setGaugeMaximum(scale_->maximum());
}

void UploadStep::connect() {
    transport_ = std::visit(
        [](const auto& s) -> std::unique_ptr<UploadTransport> {
            if constexpr (std::is_same_v<std::decay_t<decltype(s)>, FtpSettings>)
                return std::make_unique<FtpClient>(s);
            else
                return std::make_unique<SftpClient>(s);
        },
        settings_);
    transport_->setWaiting([this] { whileWaiting(); });
    for (;;) {
        try {
            transport_->connect();
            break;
        } catch (const TransferError& failure) {
            if (!beginNewTry(failure))
                throw;
        }
    }
    const auto* ftp = std::get_if<FtpSettings>(&settings_);
    if (ftp && ftp->tls == FtpSettings::Tls::Try && !transport_->encrypted())
        host_.appendLog("Servidor sem TLS: enviando sem criptografia.");
}

UploadResult UploadStep::send(std::string_view tradeName) {
    checkRemoteFolder(tradeName);
    const std::string target = remotePath(tradeName);
    UploadResult result;
    for (;;) {
        try {
            result = attempt(target);
            break;
        } catch (const TransferError& failure) {
            if (!beginNewTry(failure))
                throw;
        }
    }
    transport_->quit();
    host_.appendLog("Exporta\xe7\xe3o Conclu\xed"
                    "da.");
    return result;
}

void UploadStep::close() noexcept {
    if (transport_)
        transport_->close();
}

void UploadStep::service() {
    host_.processEvents();
    if (const StopToken* stop = host_.stopToken())
        stop->check();
}

void UploadStep::whileWaiting() {
    if (cleanupUntil_) {
        // A stop already asked for must not cut the clean-up short, so the window is not serviced;
        // only the time limit ends it.
        if (std::chrono::steady_clock::now() > *cleanupUntil_) {
            cleanupTimedOut_ = true;
            throw Error("clean-up timed out");
        }
        return;
    }
    if (!holdStops_) {
        service();
        return;
    }
    try {
        service();
    } catch (...) {
        if (!heldStop_)
            heldStop_ = std::current_exception();
    }
}

UploadResult UploadStep::attempt(const std::string& target) {
    const std::string temporary = runName(target, kTemporarySuffix);
    removeLeftovers(target);
    UploadResult result;
    try {
        host_.uploadBegan(size_);
        const auto started = std::chrono::steady_clock::now();
        transport_->store(local_, temporary, [this](std::int64_t bytes) { reportSent(bytes); });
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        result.bytes = size_;
        // A 226 reply is not proof enough that the whole file arrived.
        if (auto size = transport_->remoteSize(temporary); size && *size != size_)
            throw Error("Tamanho remoto difere do local: " + std::to_string(*size) + " / " + std::to_string(size_));
    } catch (...) {
        // Half a file, or one that is not ours to trust: nothing to keep.
        discard(temporary);
        throw;
    }

    // Between the first rename and the last the folder may hold the new file under our name only;
    // a stop waits for the swap to end.
    holdStops_ = true;
    try {
        publish(temporary, runName(target, kAsideSuffix), target);
    } catch (...) {
        // The temporary file may be the only whole database left in the folder.
        if (finalNameTaken(target))
            discard(temporary);
        holdStops_ = false;
        if (std::exception_ptr stop = std::exchange(heldStop_, nullptr))
            std::rethrow_exception(stop);
        throw;
    }
    holdStops_ = false;
    if (std::exception_ptr stop = std::exchange(heldStop_, nullptr))
        std::rethrow_exception(stop);
    return result;
}

void UploadStep::reportSent(std::int64_t bytesSoFar) {
    host_.setGaugePosition(scale_->position(bytesSoFar));
    host_.appendLog(std::to_string(bytesSoFar));
    host_.uploadProgress(bytesSoFar, size_);
    service();
}

void UploadStep::publish(const std::string& temporary, const std::string& aside, const std::string& target) {
    try {
        transport_->rename(temporary, target);
        return;
    } catch (const RenameRefused&) {
        // Refused, as servers do that will not rename onto an existing file: the published file
        // steps aside first, and comes back if the new one cannot take its place.
    }
    transport_->rename(target, aside);
    try {
        transport_->rename(temporary, target);
    } catch (...) {
        try {
            transport_->rename(aside, target);
        } catch (...) {
            // Nothing lies at the published name now: both files stay for the next run.
        }
        throw;
    }
    cleanUp([&] { transport_->remove(aside); });
}

void UploadStep::removeLeftovers(const std::string& target) {
    const size_t slash = target.rfind('/');
    const std::string folder = target.substr(0, slash + 1);
    const std::string base = target.substr(slash + 1);
    std::vector<std::string> names;
    try {
        names = transport_->list(folder);
    } catch (const TransferError&) {
        return; // best effort: the store tells what is wrong with the folder
    }
    // Without a published file, what an earlier run left may be the only whole database.
    if (std::find(names.begin(), names.end(), base) == names.end())
        return;
    for (const std::string& name : names) {
        if (!leftover(name, base))
            continue;
        try {
            transport_->remove(folder + name);
        } catch (const TransferError&) {
            // Another try stores under another name.
        }
    }
}

void UploadStep::discard(const std::string& temporary) noexcept {
    // On the same connection when it is still usable, else on a new one.
    cleanUp([&] { transport_->remove(temporary); });
}

bool UploadStep::cleanUp(const std::function<void()>& work) noexcept {
    cleanupUntil_ = std::chrono::steady_clock::now() + kCleanupLimit;
    cleanupTimedOut_ = false;
    bool done = false;
    try {
        work();
        done = true;
    } catch (...) {
        // Best effort: no device asks for our names, and the next upload deletes them.
    }
    cleanupUntil_.reset();
    // The connection may still wait for the server: nothing after this must wait on it again,
    // not even curl's QUIT when it goes.
    if (cleanupTimedOut_)
        transport_->abort();
    return done;
}

bool UploadStep::finalNameTaken(const std::string& target) noexcept {
    const size_t slash = target.rfind('/');
    bool taken = false;
    cleanUp([&] {
        const std::vector<std::string> names = transport_->list(target.substr(0, slash + 1));
        taken = std::find(names.begin(), names.end(), target.substr(slash + 1)) != names.end();
    });
    return taken;
}

bool UploadStep::beginNewTry(const TransferError& failure) {
    if (try_ > retries_ || !failure.transient())
        return false;
    ++try_;
    host_.appendLog(cp1252::fromUtf8(failure.what()));
    host_.appendLog("Nova tentativa de envio (" + std::to_string(try_) + " de " + std::to_string(retries_ + 1) +
                    ") em " + std::to_string(retryWait_.count()) + " s");
    // Afresh: the old connection may be broken, or busy with what failed.
    transport_->abort();
    const auto until = std::chrono::steady_clock::now() + retryWait_;
    do {
        service();
        const auto left = until - std::chrono::steady_clock::now();
        if (left > std::chrono::steady_clock::duration::zero())
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, kWaitSlice));
    } while (std::chrono::steady_clock::now() < until);
    return true;
}

std::string UploadStep::runName(const std::string& target, std::string_view suffix) const {
    std::string name = target + "." + std::to_string(::getpid());
    if (try_ > 1)
        name += "-" + std::to_string(try_);
    return name + std::string(suffix);
}

} // namespace vela
