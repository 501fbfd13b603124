#pragma once
// An error object as the components hand it back: a domain, a code, a one-line message
// and optional extra information. Failures never cross components as exceptions.
#include <memory>
#include <string>

namespace telvo {

class Value;

struct Error {
    std::string domain;
    long code = 0;
    std::string message;

    Error() = default;
    Error(std::string d, long c, std::string m) : domain(std::move(d)), code(c), message(std::move(m)) {}

    // "Error Domain=<domain> Code=<code> \"<message>\""
    std::string description() const {
        return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + message + "\"";
    }
};

using ErrorPtr = std::shared_ptr<Error>;

inline ErrorPtr makeError(std::string domain, long code, std::string message) {
    return std::make_shared<Error>(std::move(domain), code, std::move(message));
}

}  // namespace telvo
