#include "foundation/logging/DDFileLogger.h"

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include "foundation/logging/DDLog.h"
#include "foundation/logging/DDLogFileFormatterDefault.h"
#include "foundation/logging/DDLogFileManagerDefault.h"
#include "foundation/logging/PosixError.h"
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {

// Failures of logMessage, counted over every file logger of the process.
std::atomic<int> gFailureCount{0};
constexpr int kMaximumReportedFailures = 10;

void reportFailure(const std::string& failure) {
    int count = ++gFailureCount;
    if (count > kMaximumReportedFailures) return;
    std::fprintf(stderr, "DDFileLogger.logMessage: %s\n", failure.c_str());
    if (count == kMaximumReportedFailures) {
        std::fprintf(stderr, "DDFileLogger.logMessage: Too many exceptions -- will not log any more of them.\n");
    }
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

}  // namespace

void DDFileLogger::resetForTesting() {
    gFailureCount = 0;
}

DDFileLogger::DDFileLogger(DDLogFileManagerPtr logFileManager)
    : DDAbstractLogger("cocoa.lumberjack.fileLogger"),
      logFileManager_(logFileManager ? std::move(logFileManager) : std::make_shared<DDLogFileManagerDefault>()) {
    formatter_ = std::make_shared<DDLogFileFormatterDefault>();
}

DDFileLogger::~DDFileLogger() {
    closeEverything();
}

std::shared_ptr<DDFileLogger> DDFileLogger::self() {
    return std::static_pointer_cast<DDFileLogger>(shared_from_this());
}

void DDFileLogger::closeEverything() {
    if (currentLogFileVnode_) currentLogFileVnode_->cancel();
    currentLogFileVnode_.reset();
    if (rollingTimer_) rollingTimer_->cancel();
    rollingTimer_.reset();
    if (currentLogFileHandle_ >= 0) {
        ::fsync(currentLogFileHandle_);
        ::close(currentLogFileHandle_);
        currentLogFileHandle_ = -1;
    }
}

uint64_t DDFileLogger::maximumFileSize() {
    uint64_t result = 0;
    syncThroughQueues("maximumFileSize", [&] { result = maximumFileSize_; });
    return result;
}

void DDFileLogger::setMaximumFileSize(uint64_t bytes) {
    auto logger = self();
    asyncThroughQueues("setMaximumFileSize", [logger, bytes] {
        logger->maximumFileSize_ = bytes;
        logger->maybeRollLogFileDueToSize();
    });
}

double DDFileLogger::rollingFrequency() {
    double result = 0;
    syncThroughQueues("rollingFrequency", [&] { result = rollingFrequency_; });
    return result;
}

void DDFileLogger::setRollingFrequency(double seconds) {
    auto logger = self();
    asyncThroughQueues("setRollingFrequency", [logger, seconds] {
        logger->rollingFrequency_ = seconds;
        logger->maybeRollLogFileDueToAge();
    });
}

void DDFileLogger::rollLogFile() {
    rollLogFileWithCompletionBlock(nullptr);
}

void DDFileLogger::rollLogFileWithCompletionBlock(std::function<void()> completion) {
    auto logger = self();
    auto work = [logger, completion] {
        logger->rollLogFileNow();
        if (completion) dispatch::Queue::main()->async(completion);
    };
    if (isOnInternalLoggerQueue()) {
        work();
    } else {
        auto queue = loggerQueue_;
        DDLog::loggingQueue()->async([queue, work] { queue->async(work); });
    }
}

DDLogFileInfoPtr DDFileLogger::currentLogFileInfo() {
    if (currentLogFileInfo_) return currentLogFileInfo_;
    auto sorted = logFileManager_->sortedLogFileInfos();
    if (!sorted.empty()) {
        DDLogFileInfoPtr newest = sorted.front();
        if (!newest->isArchived()) {
            bool dueToSize = maximumFileSize_ > 0 && newest->fileSize() >= maximumFileSize_;
            auto created = newest->creationDate();
            bool dueToAge = rollingFrequency_ > 0 && created && platform::Clock::now() >= *created + rollingFrequency_;
            if (!dueToSize && !dueToAge) {
                currentLogFileInfo_ = newest;
            } else {
                newest->setIsArchived(true);
                logFileManager_->didArchiveLogFile(newest->filePath());
            }
        }
    }
    if (!currentLogFileInfo_) {
        currentLogFileInfo_ = logFileManager_->logFileInfoForPath(logFileManager_->createNewLogFile());
    }
    return currentLogFileInfo_;
}

int DDFileLogger::currentLogFileHandle() {
    if (currentLogFileHandle_ >= 0) return currentLogFileHandle_;
    DDLogFileInfoPtr info = currentLogFileInfo();
    std::string hostPath = fs::resolve(info->filePath());
    int fd = info->openForWriting();
    if (fd < 0) {
        int error = errno;
        // Forget the file, so that the next record looks for (or makes) one again rather than
        // failing on a file that never came to be.
        currentLogFileInfo_.reset();
        errno = error;
        return -1;
    }
    ::lseek(fd, 0, SEEK_END);
    // A file reached through its folder's descriptor is watched through its own descriptor,
    // not by a path that may lead elsewhere by now.
    if (info->folder()) hostPath = "/proc/self/fd/" + std::to_string(fd);
    currentLogFileHandle_ = fd;
    scheduleTimerToRollLogFileDueToAge();
    std::weak_ptr<DDAbstractLogger> weak = weak_from_this();
    currentLogFileVnode_ = LogFileWatch::create(hostPath, fd, loggerQueue_, [weak] {
        if (auto logger = weak.lock()) static_cast<DDFileLogger*>(logger.get())->rollLogFileNow();
    });
    return fd;
}

void DDFileLogger::logMessage(const DDLogMessagePtr& logMessage) {
    if (!logMessage) return;
    std::optional<std::string> text = logMessage->logMsg();
    if (formatter_) text = formatter_->formatLogMessage(*logMessage);
    if (!text) return;
    if (text->empty() || text->back() != '\n') text->push_back('\n');

    // A deletion or renaming that happened before this record was made may not have reached
    // the watch's handler yet: take it into account now, so the record goes to a new file
    // rather than into one nobody can read.
    if (currentLogFileVnode_ && currentLogFileVnode_->poll()) rollLogFileNow();

    int fd = currentLogFileHandle();
    if (fd < 0) {
        int error = errno;
        reportFailure("cannot open the log file: " + posixErrorDescription(error));
        return;
    }
    if (!writeAll(fd, *text)) {
        int error = errno;
        reportFailure("cannot write to the log file: " + posixErrorDescription(error));
        return;
    }
    maybeRollLogFileDueToSize();
}

void DDFileLogger::willRemoveLogger() {
    rollLogFileNow();
}

void DDFileLogger::rollLogFileNow() {
    if (currentLogFileHandle_ < 0) return;
    // The watch goes first: archiving changes the file's attributes, which it would report.
    if (currentLogFileVnode_) currentLogFileVnode_->cancel();
    currentLogFileVnode_.reset();
    ::fsync(currentLogFileHandle_);
    ::close(currentLogFileHandle_);
    currentLogFileHandle_ = -1;
    if (currentLogFileInfo_) {
        currentLogFileInfo_->setIsArchived(true);
        logFileManager_->didRollAndArchiveLogFile(currentLogFileInfo_->filePath());
    }
    currentLogFileInfo_.reset();
    if (rollingTimer_) rollingTimer_->cancel();
    rollingTimer_.reset();
}

void DDFileLogger::maybeRollLogFileDueToSize() {
    if (maximumFileSize_ == 0 || currentLogFileHandle_ < 0) return;
    off_t position = ::lseek(currentLogFileHandle_, 0, SEEK_CUR);
    if (position >= 0 && uint64_t(position) >= maximumFileSize_) rollLogFileNow();
}

void DDFileLogger::maybeRollLogFileDueToAge() {
    if (rollingFrequency_ > 0 && currentLogFileInfo_) {
        auto created = currentLogFileInfo_->creationDate();
        // Compared with the timer's own deadline, so a timer that fired is never re-armed for
        // the same moment.
        if (created && platform::Clock::now() >= *created + rollingFrequency_) {
            rollLogFileNow();
            return;
        }
    }
    scheduleTimerToRollLogFileDueToAge();
}

void DDFileLogger::scheduleTimerToRollLogFileDueToAge() {
    if (rollingTimer_) rollingTimer_->cancel();
    rollingTimer_.reset();
    if (!currentLogFileInfo_ || rollingFrequency_ <= 0) return;
    auto created = currentLogFileInfo_->creationDate();
    if (!created) return;
    rollingTimer_ = dispatch::Source::createTimer(loggerQueue_);
    std::weak_ptr<DDAbstractLogger> weak = weak_from_this();
    rollingTimer_->setEventHandler([weak] {
        if (auto logger = weak.lock()) static_cast<DDFileLogger*>(logger.get())->maybeRollLogFileDueToAge();
    });
    rollingTimer_->scheduleAtWallTime(*created + rollingFrequency_, 0, 1e-9);
    rollingTimer_->resume();
}

}  // namespace telvo
