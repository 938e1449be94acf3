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

void Connection::open() {
    if (attachment_)
        return;
    fb::Status st;
    Firebird::IXpbBuilder* dpb = fb::util()->getXpbBuilder(&st, Firebird::IXpbBuilder::DPB, nullptr, 0);
    struct Dispose {
        Firebird::IXpbBuilder* b;
        ~Dispose() { b->dispose(); }
    } guard{dpb};
    dpb->insertString(&st, isc_dpb_user_name, param("User_Name").c_str());
    dpb->insertString(&st, isc_dpb_password, param("Password").c_str());
    dpb->insertString(&st, isc_dpb_lc_ctype, "NONE");
    std::string database = param("Database");
    Firebird::IProvider* provider = fb::master()->getDispatcher();
    struct ReleaseProvider {
        Firebird::IProvider* p;
        ~ReleaseProvider() { p->release(); }
    } providerGuard{provider};
    attachment_ = provider->attachDatabase(&st, database.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
    ++generation_;
}

void Connection::close() {
    if (!attachment_)
        return;
    releaseStatements();
    // The attachment goes whatever fails below: one left behind after its server went away would
    // fail every later close and open, server back or not. Only a failed commit of the default
    // transaction is reported, as that is written data; the reads and the detach have nothing to lose.
    Firebird::IAttachment* attachment = std::exchange(attachment_, nullptr);
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
        fb::Status st;
        attachment->detach(&st);
    } catch (const Error&) {
        attachment->release();
    }
    if (failure)
        std::rethrow_exception(failure);
}

Firebird::IAttachment* Connection::attachment() {
    if (!attachment_)
        open();
    return attachment_;
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
