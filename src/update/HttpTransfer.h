#pragma once
// One blocking HTTPS transfer over libcurl, as the update engine makes them: https only (also
// after a redirect), redirects followed, a body limit, a stall limit (no progress for that
// long fails) and no total time-out. Call it on a queue of its own, never on the main queue.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Error.h"

namespace telvo::update {

struct HttpRequest {
    std::string url;
    bool post = false;
    std::string body;  // sent as is (the caller encodes it)
    uint64_t maxBytes = uint64_t(1) << 20;
    // Called with each piece of the final response's body, the response's status and its
    // announced length (-1 when none); false stops the transfer as a failure.
    std::function<bool(const char* data, size_t length, long status, int64_t announced)> onData;
    // Set from another thread to stop the transfer.
    const std::atomic<bool>* cancel = nullptr;
};

struct HttpResponse {
    long status = 0;
    int64_t announcedLength = -1;
    std::string data;  // the body, unless onData took it
    ErrorPtr error;    // domain "HttpTransfer": transport failures, limits, cancel
};

HttpResponse perform(const HttpRequest& request);

// Process-wide settings. The CA file replaces the system's trust store (tests and private
// update servers); the stall limit is in seconds (60 by default).
void setCAFile(const std::string& path);
std::string caFile();
void setStallSeconds(long seconds);
long stallSeconds();
void resetSettingsForTesting();

}  // namespace telvo::update
