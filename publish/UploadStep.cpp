#include "publish/UploadStep.h"

#include "common/Cp1252.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/ScopeExit.h"
#include "common/StopToken.h"
#include "common/TemporaryName.h"
#include "publish/FileSize.h"
#include "publish/RemotePath.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <curl/curl.h>
#include <sys/mman.h>
#include <thread>
#include <type_traits>
#include <utility>

namespace vela {
namespace {

// A clean-up after a failure or a stop must not hold the program long on a server gone quiet.
constexpr std::chrono::seconds kCleanupLimit{5};

// While waiting to try again the window is serviced this often.
constexpr std::chrono::milliseconds kWaitSlice{50};

// A live upload keeps writing its file; one nobody wrote to for this long is no live upload.
constexpr std::int64_t kStaleSeconds = 6 * 60 * 60;

// An owner file is a few lines; anything much larger is not one of ours.
constexpr std::size_t kOwnerFileLimit = 64 * 1024;

bool contains(const std::vector<std::string>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// What the owner file says: the company's full trade name and its TID, UTF-8.
std::string ownerText(std::string_view tradeName, std::int64_t tid) {
    return "nomefantasia=" + cp1252::toUtf8(tradeName) + "\ntid=" + std::to_string(tid) + "\n";
}

// The trade name an owner file names, or the whole text when it holds none.
std::string ownerName(const std::string& text) {
    constexpr std::string_view key = "nomefantasia=";
    const size_t at = text.starts_with(key) ? 0 : text.find("\n" + std::string(key));
    if (at == std::string::npos)
        return text;
    const size_t from = at + (at == 0 ? 0 : 1) + key.size();
    return text.substr(from, text.find('\n', from) - from);
}

// The owner file's bytes as a local file to store, of this process only.
UniqueFd ownerFile(const std::string& text) {
    UniqueFd file(::memfd_create("empresa", MFD_CLOEXEC));
    if (!file || !writeAll(file.get(), text))
        throw fileError("write", "BANCODADOS.gdb.empresa", errno);
    return file;
}

} // namespace

// The company's folder on the server and the names in it this step works with.
struct UploadStep::Folder {
    explicit Folder(const std::string& target)
        : path(target.substr(0, target.rfind('/') + 1)), base(target.substr(target.rfind('/') + 1)),
          owner(base + std::string(kOwnerSuffix)) {}

    std::string path;  // "/www/downloads/Bela/"
    std::string base;  // "BANCODADOS.gdb"
    std::string owner; // "BANCODADOS.gdb.empresa"
    std::string name;  // "Bela", for messages
    std::string ownerText;

    std::string target() const { return path + base; }

    // A name an upload gives a file for a while: ours or another run's, of this version or an
    // earlier one, or the fixed "BANCODADOS.gdb.part" of the oldest.
    bool leftover(std::string_view name) const {
        return name == base + std::string(kTemporarySuffix) || isTemporaryName(name, base, kTemporarySuffix) ||
               isTemporaryName(name, base, kAsideSuffix) || isTemporaryName(name, owner, kTemporarySuffix) ||
               isTemporaryName(name, owner, kAsideSuffix);
    }
    // One of this run's own names, from an earlier try.
    static bool ours(std::string_view name, std::string_view of) {
        return name.starts_with(std::string(of) + "." + processTag());
    }
};

std::unique_ptr<UploadTransport> makeTransport(const UploadSettings& settings) {
    return std::visit(
        [](const auto& s) -> std::unique_ptr<UploadTransport> {
            if constexpr (std::is_same_v<std::decay_t<decltype(s)>, FtpSettings>)
                return std::make_unique<FtpClient>(s);
            else
                return std::make_unique<SftpClient>(s);
        },
        settings);
}

UploadStep::UploadStep(UploadHost& host, UploadSettings settings, std::string localPath)
    : host_(host), settings_(std::move(settings)), local_(std::move(localPath)) {
    std::visit(
        [this](const auto& s) {
            retries_ = s.retries;
            retryWait_ = s.retryWait;
            server_ = s.host;
            ownerCheck_ = s.ownerCheck;
            replyTimeout_ = s.replyTimeout;
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
    transport_ = makeTransport(settings_);
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

UploadResult UploadStep::send(std::string_view tradeName, std::int64_t tid) {
    checkRemoteFolder(tradeName);
    Folder folder(remotePath(tradeName));
    folder.name = remoteFolder(tradeName);
    folder.ownerText = ownerText(tradeName, tid);
    UploadResult result;
    for (;;) {
        try {
            result = attempt(folder);
            break;
        } catch (const TransferError& failure) {
            if (!beginNewTry(failure))
                throw;
        }
    }
    // Published: what is left must not turn that into a failure, neither a stop nor a server that
    // will not say goodbye.
    cleanUp([this] { transport_->quit(); });
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
    // Held for as long as the swap's deadline, no longer: a server that stalls the swap does not
    // keep a stop waiting for each of its requests' deadlines in turn.
    if (stopTaken_)
        return; // what runs now puts the published file back, and must not be cut short
    if (heldStop_ && std::chrono::steady_clock::now() > swapUntil_) {
        stopTaken_ = true;
        std::rethrow_exception(std::exchange(heldStop_, nullptr));
    }
    try {
        service();
    } catch (...) {
        if (!heldStop_)
            heldStop_ = std::current_exception();
    }
}

UploadResult UploadStep::attempt(const Folder& folder) {
    std::vector<std::string> names;
    try {
        names = transport_->list(folder.path);
    } catch (const TransferError& failure) {
        // Some servers refuse to list an empty folder; what is wrong with a folder the store
        // tells. A server that stopped answering is the failure it is.
        if (failure.code() == CURLE_OPERATION_TIMEDOUT)
            throw;
    }
    const bool ownerCurrent = checkOwner(folder);
    const bool published = contains(names, folder.base) || restoreAside(folder, names);
    const std::optional<std::int64_t> serverNow = writeOwner(folder, ownerCurrent);
    removeLeftovers(folder, names, published, serverNow);

    const std::string target = folder.target();
    const std::string temporary = runName(target, kTemporarySuffix);
    UploadResult result;
    try {
        host_.uploadBegan(size_);
        const auto started = std::chrono::steady_clock::now();
        transport_->store(local_, temporary, [this](std::int64_t bytes) { reportSent(bytes); });
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        result.bytes = size_;
        // A 226 reply is not proof enough that the whole file arrived.
        if (auto size = transport_->remoteSize(temporary); size && *size != size_)
            throw Error(where(temporary) + "Tamanho remoto difere do local: " + std::to_string(*size) + " / " +
                        std::to_string(size_));
    } catch (...) {
        // Half a file, or one that is not ours to trust: nothing to keep.
        discard(temporary);
        throw;
    }

    try {
        publish(temporary, runName(target, kAsideSuffix), target);
    } catch (...) {
        // The temporary file may be the only whole database left in the folder.
        if (finalNameTaken(target))
            discard(temporary);
        if (std::exception_ptr stop = std::exchange(heldStop_, nullptr))
            std::rethrow_exception(stop);
        throw;
    }
    // The new file is in place: a stop held meanwhile comes too late to undo that, and the run
    // that asked for it sees a published upload.
    heldStop_ = nullptr;
    return result;
}

void UploadStep::reportSent(std::int64_t bytesSoFar) {
    host_.setGaugePosition(scale_->position(bytesSoFar));
    host_.appendLog(std::to_string(bytesSoFar));
    host_.uploadProgress(bytesSoFar, size_);
    service();
}

void UploadStep::publish(const std::string& temporary, const std::string& aside, const std::string& target) {
    // Between the first rename and the last the folder may hold the new file under our name only:
    // a stop waits for the swap to end, or for the swap's deadline, and is left to the caller.
    holdStops_ = true;
    stopTaken_ = false;
    swapUntil_ = std::chrono::steady_clock::now() + replyTimeout_;
    const ScopeExit release([this] { holdStops_ = false; });
    try {
        transport_->rename(temporary, target);
        return;
    } catch (const RenameRefused&) {
        // Refused because the published file is there, as servers do that will not rename onto an
        // existing file: it steps aside first, and comes back if the new one cannot take its place.
    }
    transport_->rename(target, aside);
    try {
        transport_->rename(temporary, target);
    } catch (...) {
        try {
            transport_->rename(aside, target);
        } catch (...) {
            // Nothing lies at the published name now: the next run puts the aside file back.
        }
        throw;
    }
    cleanUp([&] { transport_->remove(aside); });
}

bool UploadStep::checkOwner(const Folder& folder) {
    // Read whether or not the listing shows it: some servers list nothing at all.
    std::string text;
    try {
        text = transport_->read(folder.path + folder.owner, kOwnerFileLimit);
    } catch (const TransferError& failure) {
        // No owner file: a new folder, or one of the previous version (a database and no owner
        // file), which is taken over.
        if (failure.code() == CURLE_OPERATION_TIMEDOUT)
            throw;
        return false;
    }
    if (text == folder.ownerText)
        return true;
    if (ownerCheck_)
        throw Error("A pasta " + folder.name + " j\xc3\xa1 recebe o banco de '" + ownerName(text) + "'");
    return false;
}

bool UploadStep::restoreAside(const Folder& folder, const std::vector<std::string>& names) {
    // A run killed between the swap's two renames left the published file aside: it goes back
    // before anything else, the newest one where there are several.
    std::optional<std::string> newest;
    std::optional<std::int64_t> newestTime;
    for (const std::string& name : names) {
        if (!isTemporaryName(name, folder.base, kAsideSuffix))
            continue;
        const std::optional<std::int64_t> time = timeOf(folder.path + name);
        if (!newest || (time && (!newestTime || *time > *newestTime))) {
            newest = name;
            newestTime = time;
        }
    }
    if (!newest)
        return false;
    transport_->rename(folder.path + *newest, folder.target());
    return true;
}

std::optional<std::int64_t> UploadStep::writeOwner(const Folder& folder, bool current) {
    // Written on every run, under a name of the run's own and then renamed, like the database: its
    // time is the server's clock now, which tells how old the leftovers are.
    const std::string owner = folder.path + folder.owner;
    const std::string temporary = runName(owner, kTemporarySuffix);
    const UniqueFd file = ownerFile(folder.ownerText);
    std::optional<std::int64_t> now;
    try {
        transport_->store("/proc/self/fd/" + std::to_string(file.get()), temporary, {});
        now = timeOf(temporary);
    } catch (...) {
        discard(temporary);
        throw;
    }
    if (current) {
        discard(temporary); // the same text is there already
        return now;
    }
    try {
        publish(temporary, runName(owner, kAsideSuffix), owner);
    } catch (...) {
        discard(temporary);
        heldStop_ = nullptr;
        throw;
    }
    if (std::exception_ptr stop = std::exchange(heldStop_, nullptr))
        std::rethrow_exception(stop);
    return now;
}

void UploadStep::removeLeftovers(const Folder& folder, const std::vector<std::string>& names, bool published,
                                 std::optional<std::int64_t> serverNow) {
    // Judged before the store, on the server's clock alone: a leftover goes when it is one of this
    // run's, older than the published file (written before the last publish ended), or untouched
    // for six hours. Another run's live upload keeps writing its file, so it is neither.
    const std::optional<std::int64_t> publishedTime = published ? timeOf(folder.target()) : std::nullopt;
    for (const std::string& name : names) {
        if (!folder.leftover(name))
            continue;
        bool stale = Folder::ours(name, folder.base) || Folder::ours(name, folder.owner);
        if (!stale) {
            const std::optional<std::int64_t> time = timeOf(folder.path + name);
            stale = time &&
                    ((publishedTime && *time < *publishedTime) || (serverNow && *time < *serverNow - kStaleSeconds));
        }
        if (!stale)
            continue;
        try {
            transport_->remove(folder.path + name);
        } catch (const TransferError&) {
            // Another run may have taken it away meanwhile.
        }
    }
}

std::optional<std::int64_t> UploadStep::timeOf(const std::string& remotePath) {
    try {
        return transport_->remoteTime(remotePath);
    } catch (const TransferError& failure) {
        // Gone meanwhile, or a server that tells no times: nothing is known of it. A server that
        // stopped answering is the failure it is.
        if (failure.code() == CURLE_OPERATION_TIMEDOUT)
            throw;
        return std::nullopt;
    }
}

void UploadStep::discard(const std::string& temporary) noexcept {
    // On the same connection when it is still usable, else logged in again on a new one: a server
    // whose session process died ("500 OOPS") answered the store but takes nothing more.
    cleanUp([&] {
        try {
            transport_->remove(temporary);
        } catch (const TransferError& failure) {
            if (failure.reply() != 0)
                throw; // the server answered: the connection is alive and said no
            transport_->abort();
            transport_->remove(temporary);
        }
    });
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
        taken = contains(names, target.substr(slash + 1));
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
    std::string tag = processTag();
    if (try_ > 1)
        tag += "-" + std::to_string(try_);
    return temporaryName(target, tag, suffix);
}

std::string UploadStep::where(const std::string& remotePath) const {
    return server_ + ": " + remotePath + ": ";
}

} // namespace vela
