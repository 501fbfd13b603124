#include "foundation/logging/DDAbstractLogger.h"

#include <cstdio>
#include "foundation/logging/DDLog.h"

namespace telvo {

namespace {
// Marks a logger's queue; the value is the logger.
const char kLoggerQueueKey = 0;
}  // namespace

DDAbstractLogger::DDAbstractLogger(std::string loggerName)
    : loggerQueue_(dispatch::Queue::createSerial(loggerName)), loggerName_(std::move(loggerName)) {
    loggerQueue_->setSpecific(&kLoggerQueueKey, this);
}

DDAbstractLogger::~DDAbstractLogger() {
    loggerQueue_->setSpecific(&kLoggerQueueKey, nullptr);
}

bool DDAbstractLogger::isOnGlobalLoggingQueue() const {
    return DDLog::isOnLoggingQueue();
}

bool DDAbstractLogger::isOnInternalLoggerQueue() const {
    return dispatch::Queue::getSpecific(&kLoggerQueueKey) == this;
}

void DDAbstractLogger::checkQueues(const char* operation) const {
    if (isOnGlobalLoggingQueue()) {
        std::fprintf(stderr, "%s: Core architecture requirement failure\n", operation);
    } else if (isOnInternalLoggerQueue()) {
        std::fprintf(stderr, "%s: MUST access ivar directly, NOT via self.* syntax.\n", operation);
    }
}

void DDAbstractLogger::syncThroughQueues(const char* operation, const std::function<void()>& block) {
    if (isOnInternalLoggerQueue()) {
        checkQueues(operation);
        block();
        return;
    }
    if (isOnGlobalLoggingQueue()) {
        // Already behind every earlier record; only the logger's queue is left to pass.
        checkQueues(operation);
        loggerQueue_->sync(block);
        return;
    }
    DDLog::loggingQueue()->sync([&] { loggerQueue_->sync(block); });
}

void DDAbstractLogger::asyncThroughQueues(const char* operation, std::function<void()> block) {
    checkQueues(operation);
    auto queue = loggerQueue_;
    DDLog::loggingQueue()->async([queue, block = std::move(block)] { queue->async(block); });
}

DDLogFormatterPtr DDAbstractLogger::logFormatter() {
    DDLogFormatterPtr result;
    syncThroughQueues("logFormatter", [&] { result = formatter_; });
    return result;
}

void DDAbstractLogger::setLogFormatter(DDLogFormatterPtr formatter) {
    auto self = shared_from_this();
    asyncThroughQueues("setLogFormatter", [self, formatter] {
        if (self->formatter_ == formatter) return;
        if (self->formatter_) self->formatter_->willRemoveFromLogger(self.get());
        self->formatter_ = formatter;
        if (formatter) formatter->didAddToLogger(self.get());
    });
}

}  // namespace telvo
