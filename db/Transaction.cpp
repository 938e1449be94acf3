#include "db/Transaction.h"

#include "db/Connection.h"

#include <utility>
#include <vector>

namespace vela {

Transaction::Transaction(Connection& connection, Mode mode) : connection_(connection), mode_(mode) {}

Transaction::~Transaction() {
    if (connection_.defaultTransaction() == this)
        connection_.setDefaultTransaction(nullptr);
    if (handle_) {
        // A destructor must not throw: whatever is left open is committed if possible.
        try {
            commit();
        } catch (...) {
            handle_ = nullptr;
        }
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
    fb::Status st;
    handle_ = connection_.attachment()->startTransaction(&st, static_cast<unsigned>(tpb.size()), tpb.data());
}

void Transaction::commitRetaining() {
    fb::Status st;
    handle()->commitRetaining(&st);
}

void Transaction::commit() {
    if (!handle_)
        return;
    fb::Status st;
    handle_->commit(&st);
    handle_ = nullptr; // commit released the interface
}

void Transaction::rollback() {
    if (!handle_)
        return;
    fb::Status st;
    handle_->rollback(&st);
    handle_ = nullptr;
}

Firebird::ITransaction* Transaction::handle() {
    if (!handle_)
        start();
    return handle_;
}

void Transaction::endWithConnection() {
    if (!handle_)
        return;
    try {
        commit();
    } catch (...) {
        std::exchange(handle_, nullptr)->release();
        throw;
    }
}

void Transaction::drop() noexcept {
    if (!handle_)
        return;
    try {
        rollback();
    } catch (...) {
        std::exchange(handle_, nullptr)->release();
    }
}

} // namespace vela
