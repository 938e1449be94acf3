#include "db/Transaction.h"

#include "db/Connection.h"

#include <vector>

namespace vela {

Transaction::Transaction(Connection& connection, Mode mode) : connection_(connection), mode_(mode) {}

Transaction::~Transaction() {
    if (connection_.defaultTransaction() == this)
        connection_.setDefaultTransaction(nullptr);
    // A destructor must not throw: whatever is left open is committed if possible, else rolled back.
    try {
        endWithConnection();
    } catch (...) {
    }
}

void Transaction::start() {
    if (handle_)
        return;
    std::vector<unsigned char> tpb{isc_tpb_version3};
    if (mode_ == Mode::ReadOnly) {
        tpb.insert(tpb.end(), {isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_nowait});
    } else {
        tpb.insert(tpb.end(), {isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait});
    }
    Firebird::IAttachment* attachment = connection_.attachment();
    handle_.reset(attachment->startTransaction(&connection_.status(), static_cast<unsigned>(tpb.size()), tpb.data()));
}

void Transaction::commitRetaining() {
    handle()->commitRetaining(&connection_.status());
}

void Transaction::commit() {
    if (!handle_)
        return;
    handle_->commit(&connection_.status());
    handle_.forget(); // a successful commit released the interface
}

void Transaction::rollback() {
    if (!handle_)
        return;
    handle_->rollback(&connection_.status());
    handle_.forget();
}

Firebird::ITransaction* Transaction::handle() {
    if (!handle_)
        start();
    return handle_.get();
}

void Transaction::endWithConnection() {
    if (!handle_)
        return;
    try {
        commit();
    } catch (...) {
        drop();
        throw;
    }
}

void Transaction::drop() noexcept {
    if (!handle_)
        return;
    try {
        rollback();
    } catch (...) {
        handle_.reset();
    }
}

} // namespace vela
