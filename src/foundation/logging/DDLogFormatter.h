#pragma once
// What a formatter of log records offers: a record in, a line's text out (none: not written).
#include <memory>
#include <optional>
#include <string>
#include "foundation/logging/DDLogMessage.h"

namespace telvo {

class DDLogger;

class DDLogFormatter {
public:
    virtual ~DDLogFormatter() = default;
    virtual std::optional<std::string> formatLogMessage(const DDLogMessage& logMessage) = 0;
    virtual void didAddToLogger(DDLogger* /*logger*/) {}
    virtual void willRemoveFromLogger(DDLogger* /*logger*/) {}
};

using DDLogFormatterPtr = std::shared_ptr<DDLogFormatter>;

}  // namespace telvo
