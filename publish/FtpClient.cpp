#include "publish/FtpClient.h"

#include "common/Error.h"
#include "common/ScopeExit.h"
#include "publish/CurlSession.h"
#include "publish/FtpReplies.h"
#include "publish/FtpUrl.h"

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <optional>
#include <utility>

namespace vela {
namespace {

constexpr const char* kConnectionGone = "The FTP connection was closed before QUIT.";
constexpr const char* kQuitUnanswered = "The FTP server did not answer QUIT.";

// The code at the start of a server's reply ("550 ..."), 0 when there is none.
int replyCode(const std::string& reply) {
    if (reply.size() < 3 || !std::all_of(reply.begin(), reply.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return std::stoi(reply.substr(0, 3));
}

} // namespace

struct FtpClient::Session : CurlSession {
    explicit Session(FtpSettings s) : settings(std::move(s)) {
        host = settings.host;
        stallLimit = settings.replyTimeout;
        handle();
    }

    FtpSettings settings;
    FtpReplies replies;
    // Whether the server took AUTH TLS, and then PROT P, on the connection last opened: with only
    // the first the file would go in clear text.
    bool authTaken = false;
    bool protTaken = false;

    void configure(CurlHandle& h) override {
        h.set(CURLOPT_PROTOCOLS_STR, "ftp");
        h.set(CURLOPT_USERNAME, settings.user.c_str());
        h.set(CURLOPT_PASSWORD, settings.password.c_str());
        h.set(CURLOPT_IPRESOLVE, long{CURL_IPRESOLVE_V4});
        h.set(CURLOPT_TCP_KEEPALIVE, 0L);
        const long timeout = static_cast<long>(settings.replyTimeout.count());
        h.set(CURLOPT_CONNECTTIMEOUT, timeout);
        h.set(CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
        // A data connection on which the server stops taking bytes would otherwise hang forever.
        h.set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        h.set(CURLOPT_LOW_SPEED_TIME, timeout);
        // Passive mode (no FTPPORT) with the plain IPv4 PASV command.
        h.set(CURLOPT_FTPPORT, static_cast<const char*>(nullptr));
        h.set(CURLOPT_FTP_USE_EPSV, 0L);
        // One STOR of the full path: no CWD walk, and no folder is ever created.
        h.set(CURLOPT_FTP_FILEMETHOD, long{CURLFTPMETHOD_NOCWD});
        h.set(CURLOPT_FTP_CREATE_MISSING_DIRS, long{CURLFTP_CREATE_DIR_NONE});
        // TYPE I: the database file must arrive byte for byte.
        h.set(CURLOPT_TRANSFERTEXT, 0L);
        // The server's replies reach us only through the debug stream, which needs VERBOSE; with a
        // debug function set nothing is printed.
        h.set(CURLOPT_DEBUGFUNCTION, &Session::onDebug);
        h.set(CURLOPT_DEBUGDATA, this);
        h.set(CURLOPT_VERBOSE, 1L);
        h.set(CURLOPT_USE_SSL, settings.tls == FtpSettings::Tls::Require ? long{CURLUSESSL_ALL}
                               : settings.tls == FtpSettings::Tls::Try   ? long{CURLUSESSL_TRY}
                                                                         : long{CURLUSESSL_NONE});
        h.set(CURLOPT_FTPSSLAUTH, long{CURLFTPAUTH_TLS});
        if (!settings.caFile.empty())
            h.set(CURLOPT_CAINFO, settings.caFile.c_str());
        if (settings.maxRate > 0)
            h.set(CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(settings.maxRate * 1024));
    }

    void beforeRequest() override { replies.clear(); }

    std::string url(std::string_view path) const { return ftpUrl(settings.host, settings.port, path); }

    // A request with no body on the root folder (so no CWD), sending commands after the login.
    CURLcode command(std::initializer_list<std::string> lines, CurlTransfer& transfer) {
        CurlHandle& h = handle();
        CurlList list;
        for (const std::string& line : lines) {
            curl_slist* longer = curl_slist_append(list.get(), line.c_str());
            if (!longer)
                throw Error("curl_slist_append failed", CURLE_OUT_OF_MEMORY);
            (void)list.release();
            list.reset(longer);
        }
        h.set(CURLOPT_QUOTE, list.get());
        const ScopeExit reset([this] { unset(CURLOPT_QUOTE, static_cast<curl_slist*>(nullptr)); });
        return withoutBody(url("/"), transfer);
    }

    TransferError failure(CURLcode code, const CurlTransfer& transfer) const {
        if (std::optional<std::string> refusal = replies.refusal())
            return TransferError(where(transfer) + *refusal, code, replyCode(*refusal));
        if (std::string text = curl ? curl->errorText() : std::string(); !text.empty())
            return TransferError(where(transfer) + text, code, 0);
        return TransferError(where(transfer) + curl_easy_strerror(code), code, 0);
    }

    // Whether a file is there: SIZE, or the listing where the server knows no SIZE.
    bool exists(const std::string& path) {
        CurlTransfer transfer(path);
        const CURLcode code = withoutBody(url(path), transfer);
        if (code == CURLE_OK)
            return true;
        if (replies.lastCommand() != "SIZE" || (replies.code() != 500 && replies.code() != 502))
            return false;
        const size_t slash = path.rfind('/');
        std::vector<std::string> names;
        CurlTransfer listing(path.substr(0, slash + 1));
        if (listNames(url(listing.path), listing, names) != CURLE_OK)
            return false;
        return std::find(names.begin(), names.end(), path.substr(slash + 1)) != names.end();
    }

    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* userp) {
        auto* session = static_cast<Session*>(userp);
        try {
            FtpReplies& replies = session->replies;
            if (type == CURLINFO_HEADER_OUT) {
                replies.commandSent(std::string_view(data, size));
            } else if (type == CURLINFO_HEADER_IN) {
                replies.received(std::string_view(data, size));
                // curl asks AUTH TLS, then AUTH SSL, before it logs in; the last answer decides.
                // PROT P comes after the login.
                if (replies.lastCommand() == "AUTH" && replies.answered()) {
                    session->authTaken = replies.code() < 400;
                    session->protTaken = false;
                } else if (replies.lastCommand() == "PROT" && replies.answered()) {
                    session->protTaken = replies.code() < 400;
                }
            }
        } catch (...) {
            // Only bookkeeping for messages is lost; the transfer itself is not affected.
        }
        return 0;
    }
};

FtpClient::FtpClient(FtpSettings settings) : session_(std::make_unique<Session>(std::move(settings))) {}
FtpClient::~FtpClient() = default;
FtpClient::FtpClient(FtpClient&&) noexcept = default;
FtpClient& FtpClient::operator=(FtpClient&&) noexcept = default;

FtpClient::Session& FtpClient::session() {
    if (!session_)
        throw Error("FTP client used after being moved from");
    return *session_;
}

void FtpClient::connect() {
    Session& s = session();
    // A request for the root folder with no body: curl connects, logs in and keeps the connection
    // for the next request. The root is given as an absolute path so that no CWD is sent.
    CurlTransfer transfer;
    if (const CURLcode code = s.withoutBody(s.url("/"), transfer); code != CURLE_OK)
        throw s.failure(code, transfer);
}

void FtpClient::store(const std::string& localPath, const std::string& remotePath, const Progress& progress) {
    Session& s = session();
    CurlTransfer transfer(remotePath);
    if (const CURLcode code = s.storeFile(localPath, s.url(remotePath), transfer, progress); code != CURLE_OK)
        throw s.failure(code, transfer);
}

std::optional<std::int64_t> FtpClient::remoteSize(const std::string& remotePath) {
    Session& s = session();
    // A request for the file with no body: curl asks SIZE and transfers nothing.
    CurlTransfer transfer(remotePath);
    const CURLcode code = s.withoutBody(s.url(remotePath), transfer);
    if (code != CURLE_OK) {
        // A server that knows no SIZE (500, 502) is taken at its word for the store.
        if (s.replies.lastCommand() == "SIZE" && (s.replies.code() == 500 || s.replies.code() == 502))
            return std::nullopt;
        throw s.failure(code, transfer);
    }
    return s.contentLength();
}

std::optional<std::int64_t> FtpClient::remoteTime(const std::string& remotePath) {
    Session& s = session();
    CurlTransfer transfer(remotePath);
    const CURLcode code = s.withoutBody(s.url(remotePath), transfer, true);
    if (code != CURLE_OK) {
        if ((s.replies.lastCommand() == "MDTM" || s.replies.lastCommand() == "SIZE") &&
            (s.replies.code() == 500 || s.replies.code() == 502))
            return std::nullopt;
        throw s.failure(code, transfer);
    }
    return s.fileTime();
}

std::string FtpClient::read(const std::string& remotePath, std::size_t limit) {
    Session& s = session();
    CurlTransfer transfer(remotePath);
    std::string text;
    if (const CURLcode code = s.readFile(s.url(remotePath), transfer, text, limit); code != CURLE_OK)
        throw s.failure(code, transfer);
    return text;
}

void FtpClient::rename(const std::string& from, const std::string& to) {
    Session& s = session();
    CurlTransfer transfer(from);
    const CURLcode code = s.command({"RNFR " + from, "RNTO " + to}, transfer);
    if (code == CURLE_OK)
        return;
    TransferError error = s.failure(code, transfer);
    // Only a refusal because `to` is taken calls for the swap: a 550 ("file unavailable", as
    // servers that will not rename onto a file answer) while `to` is there. A name rule (553),
    // a quota or a 450 is the failure it is.
    if (code == CURLE_QUOTE_ERROR && s.replies.lastCommand() == "RNTO" && error.reply() == 550 && s.exists(to))
        throw RenameRefused(error.what(), error.code(), error.reply());
    throw error;
}

void FtpClient::remove(const std::string& remotePath) {
    Session& s = session();
    CurlTransfer transfer(remotePath);
    if (const CURLcode code = s.command({"DELE " + remotePath}, transfer); code != CURLE_OK)
        throw s.failure(code, transfer);
}

std::vector<std::string> FtpClient::list(const std::string& folder) {
    Session& s = session();
    std::vector<std::string> names;
    CurlTransfer transfer(folder.empty() || folder.back() != '/' ? folder + '/' : folder);
    if (const CURLcode code = s.listNames(s.url(transfer.path), transfer, names); code != CURLE_OK)
        throw s.failure(code, transfer);
    return names;
}

bool FtpClient::encrypted() const {
    return session_ && session_->authTaken && session_->protTaken;
}

void FtpClient::setWaiting(Waiting waiting) {
    session().waiting = std::move(waiting);
}

void FtpClient::quit() {
    Session& s = session();
    // curl says QUIT when it closes a connection; this empty request is the last on it, so the
    // replies still reach our debug stream.
    CurlTransfer transfer;
    const CURLcode code = s.lastRequest(kConnectionGone, [&] { return s.withoutBody(s.url("/"), transfer); });
    if (code != CURLE_OK)
        throw s.failure(code, transfer);
    const FtpReplies& replies = s.replies;
    if (replies.lastCommand() != "QUIT")
        throw Error(kConnectionGone, code);
    if (!replies.answered())
        throw Error(kQuitUnanswered, code);
    if (replies.code() >= 400)
        throw Error(s.where(transfer) + replies.text(), code);
}

void FtpClient::close() noexcept {
    if (session_)
        session_->close();
}

void FtpClient::abort() noexcept {
    if (session_)
        session_->abort();
}

} // namespace vela
