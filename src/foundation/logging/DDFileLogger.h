#pragma once
// A logger that appends each record's line to the current log file of one directory, rolls
// over to a new file when the current one reaches a size or an age, or when it is deleted or
// renamed from outside, marks every rolled-over file archived, and leaves the deletion of the
// oldest archived files to its file manager. All file work runs on the logger's queue
// ("cocoa.lumberjack.fileLogger").
#include <cstdint>
#include <functional>
#include <memory>
#include "foundation/logging/DDAbstractLogger.h"
#include "foundation/logging/DDLogFileInfo.h"
#include "foundation/logging/DDLogFileManager.h"
#include "foundation/logging/LogFileWatch.h"
#include "platform/dispatch/Source.h"

namespace telvo {

class DDFileLogger : public DDAbstractLogger {
public:
    // No manager: a default manager of the default directory. Make it with std::make_shared.
    explicit DDFileLogger(DDLogFileManagerPtr logFileManager = nullptr);
    ~DDFileLogger() override;

    // Read synchronously and changed asynchronously through the logging queue and the
    // logger's queue, so a change made before a record was queued applies to that record.
    // Not to be called on either queue.
    uint64_t maximumFileSize();
    void setMaximumFileSize(uint64_t bytes);
    double rollingFrequency();
    void setRollingFrequency(double seconds);

    void rollLogFile();
    // Rolls on the logger's queue, then runs `completion` (if any) on the main queue.
    void rollLogFileWithCompletionBlock(std::function<void()> completion);

    void logMessage(const DDLogMessagePtr& logMessage) override;
    void willRemoveLogger() override;

    const DDLogFileManagerPtr& logFileManager() const { return logFileManager_; }

    // Tests: forget the count of reported write failures (shared by every file logger).
    static void resetForTesting();

private:
    std::shared_ptr<DDFileLogger> self();
    // The rest runs on the logger's queue.
    DDLogFileInfoPtr currentLogFileInfo();
    int currentLogFileHandle();
    void rollLogFileNow();
    void maybeRollLogFileDueToSize();
    void maybeRollLogFileDueToAge();
    void scheduleTimerToRollLogFileDueToAge();
    void closeEverything();

    const DDLogFileManagerPtr logFileManager_;
    DDLogFileInfoPtr currentLogFileInfo_;
    int currentLogFileHandle_ = -1;
    std::unique_ptr<LogFileWatch> currentLogFileVnode_;
    dispatch::SourcePtr rollingTimer_;
    uint64_t maximumFileSize_ = 1024 * 1024;
    double rollingFrequency_ = 60 * 60 * 24;
};

}  // namespace telvo
