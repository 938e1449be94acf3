#pragma once

#include "common/Error.h"

#include <curl/curl.h>
#include <memory>
#include <string>

namespace vela {

// Owns one curl easy handle together with the buffer curl writes its error text into. The buffer
// sits on the heap so that its address, registered with the handle, survives a move.
class CurlHandle {
public:
    CurlHandle();
    CurlHandle(CurlHandle&& other) noexcept = default;
    CurlHandle& operator=(CurlHandle&& other) noexcept;
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;
    ~CurlHandle() = default;

    CURL* get() const { return handle_.get(); }

    template <typename Value> void set(CURLoption option, Value value) {
        const CURLcode code = curl_easy_setopt(handle_.get(), option, value);
        if (code != CURLE_OK)
            throw Error(std::string("curl option ") + std::to_string(option) + ": " + curl_easy_strerror(code), code);
    }

    // For clean-up paths that must not throw; a failure there leaves the option as it was.
    template <typename Value> void reset(CURLoption option, Value value) noexcept {
        curl_easy_setopt(handle_.get(), option, value);
    }

    std::string errorText() const;
    void clearError() noexcept { errorBuffer_[0] = '\0'; }

private:
    struct Cleanup {
        void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
    };

    // Declared before the handle so that it is freed after it: curl may write to it until the end.
    std::unique_ptr<char[]> errorBuffer_;
    std::unique_ptr<CURL, Cleanup> handle_;
};

// Owners of curl's other allocations.
struct CurlMultiCleanup {
    void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
using CurlMulti = std::unique_ptr<CURLM, CurlMultiCleanup>;

struct CurlListCleanup {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListCleanup>;

} // namespace vela
