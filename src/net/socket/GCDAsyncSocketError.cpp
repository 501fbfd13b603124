#include "net/socket/GCDAsyncSocketError.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace telvo {
namespace {

// The deleter type marks an ErrorPtr as one of ours, so the extra texts can be found without
// a cast on a guess (std::get_deleter answers only for this type).
struct SocketErrorDeleter {
    void operator()(Error* e) const { delete static_cast<SocketError*>(e); }
};

ErrorPtr make(const std::string& domain, long code, const std::string& message,
              const std::string& reason = {}, const std::string& suggestion = {}) {
    auto* e = new SocketError(domain, code, message);
    e->failureReason = reason;
    e->recoverySuggestion = suggestion;
    return ErrorPtr(e, SocketErrorDeleter{});
}

const SocketError* details(const ErrorPtr& error) {
    if (!error || !std::get_deleter<SocketErrorDeleter>(error)) return nullptr;
    return static_cast<const SocketError*>(error.get());
}

}  // namespace

std::string socketErrorFailureReason(const ErrorPtr& error) {
    const SocketError* e = details(error);
    return e ? e->failureReason : std::string();
}

std::string socketErrorRecoverySuggestion(const ErrorPtr& error) {
    const SocketError* e = details(error);
    return e ? e->recoverySuggestion : std::string();
}

namespace socket_errors {

ErrorPtr badConfigError(const std::string& text) {
    return make(GCDAsyncSocketErrorDomain, GCDAsyncSocketBadConfigError, text);
}

ErrorPtr badParamError(const std::string& text) {
    return make(GCDAsyncSocketErrorDomain, GCDAsyncSocketBadParamError, text);
}

ErrorPtr gaiError(int status) {
    return make(kCFStreamErrorDomainNetDB, status, gai_strerror(status));
}

ErrorPtr errnoErrorWithCode(int code, const std::string& reason) {
    return make(NSPOSIXErrorDomain, code, std::strerror(code), reason);
}

ErrorPtr errnoErrorWithReason(const std::string& reason) { return errnoErrorWithCode(errno, reason); }

ErrorPtr errnoError() { return errnoErrorWithCode(errno, {}); }

ErrorPtr sslError(int status) {
    // TLS errors carry only a recovery suggestion; the message is the generic text.
    return make(kCFStreamErrorDomainSSL, status,
                "The operation couldn't be completed. (kCFStreamErrorDomainSSL error " +
                    std::to_string(status) + ".)",
                {}, "Error code definition can be found in Apple's SecureTransport.h");
}

ErrorPtr connectTimeoutError() {
    return make(GCDAsyncSocketErrorDomain, GCDAsyncSocketConnectTimeoutError,
                "Attempt to connect to host timed out");
}

ErrorPtr readMaxedOutError() {
    return make(GCDAsyncSocketErrorDomain, GCDAsyncSocketReadMaxedOutError,
                "Read operation reached set maximum length");
}

ErrorPtr readTimeoutError() {
    return make(GCDAsyncSocketErrorDomain, GCDAsyncSocketReadTimeoutError, "Read operation timed out");
}

ErrorPtr writeTimeoutError() {
    return make(GCDAsyncSocketErrorDomain, GCDAsyncSocketWriteTimeoutError, "Write operation timed out");
}

ErrorPtr connectionClosedError() {
    return make(GCDAsyncSocketErrorDomain, GCDAsyncSocketClosedError, "Socket closed by remote peer");
}

ErrorPtr otherError(const std::string& text) {
    return make(GCDAsyncSocketErrorDomain, GCDAsyncSocketOtherError, text);
}

}  // namespace socket_errors
}  // namespace telvo
