#pragma once
// The error objects the socket hands to its owner: its own domain "GCDAsyncSocketErrorDomain"
// with codes 1 to 8, the POSIX domain for failed system calls, "kCFStreamErrorDomainNetDB" for
// name lookups and "kCFStreamErrorDomainSSL" for TLS statuses. Besides the message (the
// localised description) they may carry a failure reason and a recovery suggestion.
#include <string>
#include "platform/Error.h"

namespace telvo {

inline constexpr const char* GCDAsyncSocketErrorDomain = "GCDAsyncSocketErrorDomain";
inline constexpr const char* NSPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kCFStreamErrorDomainNetDB = "kCFStreamErrorDomainNetDB";
inline constexpr const char* kCFStreamErrorDomainSSL = "kCFStreamErrorDomainSSL";

enum GCDAsyncSocketError : long {
    GCDAsyncSocketNoError = 0,
    GCDAsyncSocketBadConfigError = 1,
    GCDAsyncSocketBadParamError = 2,
    GCDAsyncSocketConnectTimeoutError = 3,
    GCDAsyncSocketReadTimeoutError = 4,
    GCDAsyncSocketWriteTimeoutError = 5,
    GCDAsyncSocketReadMaxedOutError = 6,
    GCDAsyncSocketClosedError = 7,
    GCDAsyncSocketOtherError = 8,
};

// Every error the socket makes is one of these; `ErrorPtr` holds it, so a receiver that got
// the error from the socket may read the extra texts with `socketErrorDetails`.
struct SocketError : Error {
    std::string failureReason;
    std::string recoverySuggestion;
    SocketError(std::string d, long c, std::string m) : Error(std::move(d), c, std::move(m)) {}
};

// The failure reason and recovery suggestion of an error that the socket made ("" otherwise,
// recognised by the marker each socket error carries).
std::string socketErrorFailureReason(const ErrorPtr& error);
std::string socketErrorRecoverySuggestion(const ErrorPtr& error);

namespace socket_errors {
ErrorPtr badConfigError(const std::string& text);
ErrorPtr badParamError(const std::string& text);
ErrorPtr gaiError(int status);
// POSIX domain, code errno (read when called), description strerror(errno).
ErrorPtr errnoErrorWithReason(const std::string& reason);
ErrorPtr errnoError();
ErrorPtr errnoErrorWithCode(int code, const std::string& reason);
ErrorPtr sslError(int status);
ErrorPtr connectTimeoutError();
ErrorPtr readMaxedOutError();
ErrorPtr readTimeoutError();
ErrorPtr writeTimeoutError();
ErrorPtr connectionClosedError();
ErrorPtr otherError(const std::string& text);
}  // namespace socket_errors

}  // namespace telvo
