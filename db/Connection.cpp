#include "db/Connection.h"

#include "common/Error.h"
#include "db/Statement.h"
#include "db/Transaction.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace vela {

namespace {

std::pair<std::string, std::string> splitParam(const std::string& p) {
    auto eq = p.find('=');
    if (eq == std::string::npos)
        return {p, {}};
    return {p.substr(0, eq), p.substr(eq + 1)};
}

bool sameKey(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return std::tolower((unsigned char)x) == std::tolower((unsigned char)y); });
}

} // namespace

Connection::Connection(std::string name, std::vector<std::string> params)
    : name_(std::move(name)), params_(std::move(params)) {}

Connection::~Connection() {
    try {
        close();
    } catch (...) {
        // Nothing can be reported from here; the owner closes explicitly when it cares.
    }
}

std::string Connection::param(const std::string& key) const {
    for (const auto& p : params_) {
        auto [k, v] = splitParam(p);
        if (sameKey(k, key))
            return v;
    }
    return {};
}

void Connection::setParam(const std::string& key, const std::string& value) {
    if (connected() && param(key) != value)
        close();
    for (auto& p : params_) {
        if (sameKey(splitParam(p).first, key)) {
            p = key + "=" + value;
            return;
        }
    }
    params_.push_back(key + "=" + value);
}

fb::Handle<Firebird::IAttachment> Connection::attachNew(std::optional<bool> forcedWrites,
                                                        std::optional<bool> reserveSpace) {
    fb::Status& st = status_;
    fb::Handle<Firebird::IXpbBuilder> dpb(fb::util()->getXpbBuilder(&st, Firebird::IXpbBuilder::DPB, nullptr, 0));
    dpb->insertString(&st, isc_dpb_user_name, param("User_Name").c_str());
    dpb->insertString(&st, isc_dpb_password, param("Password").c_str());
    dpb->insertString(&st, isc_dpb_lc_ctype, "NONE");
    if (forcedWrites)
        dpb->insertInt(&st, isc_dpb_force_write, *forcedWrites ? 1 : 0);
    if (reserveSpace)
        dpb->insertInt(&st, isc_dpb_no_reserve, *reserveSpace ? 0 : 1);
    // The engine's settings for a database this process opens itself. Its page cache: the default of
    // 2,048 pages is most of a run's memory, and a copy that reads each page once gains nothing from
    // it. Its garbage collection: by the attachment that meets the garbage, with no thread of its own
    // in this process, whose shutdown at the last detach was seen to wait forever.
    std::string config;
    if (const std::string pages = param("CachePages"); !pages.empty())
        config += "DefaultDbCachePages=" + pages + "\n";
    if (const std::string policy = param("GCPolicy"); !policy.empty())
        config += "GCPolicy=" + policy + "\n";
    if (!config.empty())
        dpb->insertString(&st, isc_dpb_config, config.c_str());
    std::string database = param("Database");
    fb::Handle<Firebird::IProvider> provider(fb::master()->getDispatcher());
    return fb::Handle<Firebird::IAttachment>(
        provider->attachDatabase(&st, database.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st)));
}

void Connection::open() {
    if (attachment_)
        return;
    attachment_ = attachNew();
    ++generation_;
}

void Connection::close() {
    if (!attachment_)
        return;
    releaseStatements();
    // The attachment goes whatever fails below: one left behind after its server went away would
    // fail every later close and open, server back or not. Only a failed commit of the default
    // transaction is reported, as that is written data; the reads and the detach have nothing to lose.
    fb::Handle<Firebird::IAttachment> attachment = std::move(attachment_);
    std::exception_ptr failure;
    if (defaultTransaction_) {
        try {
            defaultTransaction_->endWithConnection();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (readTransaction_)
        readTransaction_->drop();
    try {
        attachment->detach(&status_);
        attachment.forget();
    } catch (const Error&) {
    }
    if (failure)
        std::rethrow_exception(failure);
}

bool Connection::forcedWrites() {
    return infoFlag(isc_info_forced_writes);
}

bool Connection::reservesSpace() {
    return !infoFlag(isc_info_no_reserve);
}

bool Connection::infoFlag(unsigned char item) {
    const unsigned char items[] = {item, isc_info_end};
    unsigned char reply[16] = {};
    attachment()->getInfo(&status_, sizeof items, items, sizeof reply, reply);
    if (reply[0] != item)
        return false;
    const auto length = static_cast<short>(isc_portable_integer(reply + 1, 2));
    if (length < 0 || 3 + static_cast<size_t>(length) > sizeof reply)
        return false;
    return isc_portable_integer(reply + 3, length) != 0;
}

void Connection::setForcedWrites(bool on) {
    setFileSettings(on, std::nullopt);
}

void Connection::setFileSettings(std::optional<bool> forcedWrites, std::optional<bool> reserveSpace) {
    close();
    fb::Handle<Firebird::IAttachment> other = attachNew(forcedWrites, reserveSpace);
    other->detach(&status_);
    other.forget();
}

Firebird::IAttachment* Connection::attachment() {
    if (!attachment_)
        open();
    return attachment_.get();
}

Transaction& Connection::statementTransaction() {
    if (defaultTransaction_)
        return *defaultTransaction_;
    if (!readTransaction_)
        readTransaction_ = std::make_unique<Transaction>(*this, Transaction::Mode::ReadOnly);
    return *readTransaction_;
}

void Connection::attach(Statement* statement) {
    statements_.push_back(statement);
}

void Connection::detach(Statement* statement) {
    statements_.erase(std::remove(statements_.begin(), statements_.end(), statement), statements_.end());
}

void Connection::releaseStatements() {
    for (Statement* s : statements_)
        s->release();
}

} // namespace vela
