#pragma once

#include <firebird/Interface.h>

#include <string>
#include <utility>

namespace vela::fb {

Firebird::IMaster* master();
Firebird::IUtil* util();

// Stops the embedded engine, whose threads would otherwise still be running while the process
// ends. Call it once, after every connection is closed; it never fails.
void shutdownEngine() noexcept;

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

// The parameter-block builders are disposed of, not released.
template <> struct Releaser<Firebird::IXpbBuilder> {
    void operator()(Firebird::IXpbBuilder* p) const noexcept {
        if (p)
            p->dispose();
    }
};

// The one owner of a reference-counted interface: move-only, released when it goes. A call that
// ends the object on the server (commit, free, close, detach) releases the interface itself when
// it succeeds; the caller then forgets the pointer, and on failure the owner still releases it.
template <typename T> class Handle {
public:
    Handle() = default;
    explicit Handle(T* p) noexcept : p_(p) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset(T* p = nullptr) noexcept { Releaser<T>()(std::exchange(p_, p)); }
    // After a call that released the interface on success.
    void forget() noexcept { p_ = nullptr; }

private:
    T* p_ = nullptr;
};

} // namespace vela::fb
