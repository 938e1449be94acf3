#include "publish/UploadTransport.h"

#include <curl/curl.h>

namespace vela {

bool TransferError::transient() const noexcept {
    if (code() == CURLE_LOGIN_DENIED)
        return false;
    if (reply_ != 0)
        return reply_ >= 400 && reply_ < 500;
    switch (code()) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_UPLOAD_FAILED:
    case CURLE_FTP_WEIRD_SERVER_REPLY:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_SSL_CONNECT_ERROR:
    // The SSH session broke (curl's name for a handshake or channel that failed under way); a
    // refused host key or login has codes of its own.
    case CURLE_SSH:
        return true;
    default:
        return false;
    }
}

} // namespace vela
