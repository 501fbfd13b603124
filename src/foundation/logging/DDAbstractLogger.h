#pragma once
// Base of the loggers: a formatter and a serial queue of the logger's own, labelled with the
// logger's name. Configuration is read and changed through the logging queue and then the
// logger's queue, which orders every change against the delivery of records.
#include <functional>
#include <memory>
#include <string>
#include "foundation/logging/DDLogger.h"
#include "platform/dispatch/Queue.h"

namespace telvo {

class DDAbstractLogger : public DDLogger, public std::enable_shared_from_this<DDAbstractLogger> {
public:
    explicit DDAbstractLogger(std::string loggerName = "DDAbstractLogger");
    ~DDAbstractLogger() override;

    void logMessage(const DDLogMessagePtr& /*logMessage*/) override {}
    DDLogFormatterPtr logFormatter() override;
    void setLogFormatter(DDLogFormatterPtr formatter) override;
    dispatch::QueuePtr loggerQueue() override { return loggerQueue_; }
    std::string loggerName() override { return loggerName_; }

    bool isOnGlobalLoggingQueue() const;
    bool isOnInternalLoggerQueue() const;

protected:
    // Runs `block` on the logger's queue behind every record queued before the call and
    // returns when it has run. Called on the logging queue or on the logger's own queue (where
    // waiting would never end) it reports the misuse and runs the block without that wait.
    void syncThroughQueues(const char* operation, const std::function<void()>& block);
    // Queues `block` through the logging queue onto the logger's queue.
    void asyncThroughQueues(const char* operation, std::function<void()> block);

    // Only on the logger's queue.
    DDLogFormatterPtr formatter_;
    const dispatch::QueuePtr loggerQueue_;

private:
    void checkQueues(const char* operation) const;
    const std::string loggerName_;
};

}  // namespace telvo
