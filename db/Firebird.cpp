#include "db/Firebird.h"

#include "common/Error.h"

#include <vector>

namespace vela::fb {

Firebird::IMaster* master() {
    static Firebird::IMaster* m = Firebird::fb_get_master_interface();
    return m;
}

Firebird::IUtil* util() {
    static Firebird::IUtil* u = master()->getUtilInterface();
    return u;
}

void shutdownEngine() noexcept {
    Firebird::IProvider* provider = master()->getDispatcher();
    try {
        Status st;
        provider->shutdown(&st, 0, fb_shutrsn_app_stopped);
    } catch (...) {
    }
    provider->release();
}

Status::Status() : BaseStatusWrapper(master()->getStatus()) {}

Status::~Status() {
    status->dispose();
}

void Status::checkException(Status* s) {
    if (s->dirty && (s->getState() & Firebird::IStatus::STATE_ERRORS)) {
        const intptr_t* errors = s->status->getErrors();
        long code = (errors && errors[0] == isc_arg_gds) ? static_cast<long>(errors[1]) : 0;
        std::string text = formatStatus(s->status);
        s->clearException();
        throw Error(text, code);
    }
}

std::string formatStatus(Firebird::IStatus* status) {
    std::vector<char> buffer(1024);
    for (;;) {
        unsigned n = util()->formatStatus(buffer.data(), static_cast<unsigned>(buffer.size()), status);
        if (n < buffer.size() - 1 || buffer.size() >= (1u << 20))
            return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 4);
    }
}

} // namespace vela::fb
