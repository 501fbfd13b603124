#pragma once
// One registration with the logging core: the logger, the queue it is served on and its level.
#include <memory>
#include "foundation/logging/DDLogger.h"
#include "platform/dispatch/Queue.h"

namespace telvo {

class DDLoggerNode {
public:
    DDLoggerNode(DDLoggerPtr logger, dispatch::QueuePtr loggerQueue, int logLevel)
        : logger(std::move(logger)), loggerQueue(std::move(loggerQueue)), logLevel_(logLevel) {}
    static std::shared_ptr<DDLoggerNode> nodeWithLogger(DDLoggerPtr logger, dispatch::QueuePtr loggerQueue,
                                                        int logLevel) {
        return std::make_shared<DDLoggerNode>(std::move(logger), std::move(loggerQueue), logLevel);
    }

    const DDLoggerPtr logger;
    const dispatch::QueuePtr loggerQueue;
    int logLevel() const { return logLevel_; }

private:
    int logLevel_;
};

}  // namespace telvo
