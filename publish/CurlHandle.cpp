#include "publish/CurlHandle.h"

#include <cstring>
#include <utility>

namespace vela {
namespace {

// curl_global_init is not thread-safe and must precede the first handle; the program has one
// thread, so a function-local static is enough. It is never undone: curl lives until exit.
void initialiseCurlOnce() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK)
        throw Error(std::string("curl_global_init: ") + curl_easy_strerror(result), result);
}

} // namespace

CurlHandle::CurlHandle() : errorBuffer_(new char[CURL_ERROR_SIZE]()) {
    initialiseCurlOnce();
    handle_.reset(curl_easy_init());
    if (!handle_)
        throw Error("curl_easy_init failed", CURLE_FAILED_INIT);
    set(CURLOPT_ERRORBUFFER, errorBuffer_.get());
}

CurlHandle& CurlHandle::operator=(CurlHandle&& other) noexcept {
    // Swapping lets other's destructor clean up the old handle before its buffer goes.
    std::swap(errorBuffer_, other.errorBuffer_);
    std::swap(handle_, other.handle_);
    return *this;
}

std::string CurlHandle::errorText() const {
    std::string text(errorBuffer_.get(), ::strnlen(errorBuffer_.get(), CURL_ERROR_SIZE));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace vela
