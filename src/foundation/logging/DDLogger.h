#pragma once
// What every logger of the logging core offers. The optional operations have empty defaults:
// a logger that does not override one behaves as if it lacked it.
#include <memory>
#include <string>
#include "foundation/logging/DDLogFormatter.h"
#include "foundation/logging/DDLogMessage.h"
#include "platform/dispatch/Queue.h"

namespace telvo {

class DDLogger {
public:
    virtual ~DDLogger() = default;

    virtual void logMessage(const DDLogMessagePtr& logMessage) = 0;
    virtual DDLogFormatterPtr logFormatter() = 0;
    virtual void setLogFormatter(DDLogFormatterPtr formatter) = 0;

    // Optional operations.
    virtual void didAddLogger() {}
    virtual void willRemoveLogger() {}
    virtual void flush() {}
    // The queue to deliver on; null: the core makes one (labelled with loggerName()).
    virtual dispatch::QueuePtr loggerQueue() { return nullptr; }
    virtual std::string loggerName() { return ""; }
};

using DDLoggerPtr = std::shared_ptr<DDLogger>;

}  // namespace telvo
