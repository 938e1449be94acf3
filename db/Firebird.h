#pragma once

#include <firebird/Interface.h>

#include <string>

namespace vela::fb {

Firebird::IMaster* master();
Firebird::IUtil* util();

// Status wrapper for the OO API: every failing call throws vela::Error with the client's own
// formatted message, so no call site checks a status vector.
class Status : public Firebird::BaseStatusWrapper<Status> {
public:
    Status();
    ~Status();
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;

    static void checkException(Status* status);
};

// The text the client gives for a status vector, without the 256-byte cut of fixed buffers.
std::string formatStatus(Firebird::IStatus* status);

// Releases a reference-counted interface (attachment, statement, metadata...).
template <typename T> struct Releaser {
    void operator()(T* p) const noexcept {
        if (p)
            p->release();
    }
};

} // namespace vela::fb
