#include "foundation/logging/DDLogMessage.h"

#include <pthread.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include "platform/dispatch/Queue.h"
#include "platform/time/Clock.h"

namespace telvo {

DDLogMessage::DDLogMessage(std::string logMsg, int level, int flag, int context, const char* file,
                           const char* function, int line, std::any tag, int options)
    : logLevel_(level),
      logFlag_(flag),
      logContext_(context),
      logMsg_(std::move(logMsg)),
      timestamp_(platform::Clock::now()),
      file_(file),
      function_(function),
      lineNumber_(line),
      machThreadID_(uint32_t(gettid())),
      tag_(std::move(tag)),
      options_(options) {
    if ((options_ & DDLogMessageCopyFile) && file_) {
        fileCopy_ = file_;
        file_ = fileCopy_.c_str();
    }
    if ((options_ & DDLogMessageCopyFunction) && function_) {
        functionCopy_ = function_;
        function_ = functionCopy_.c_str();
    }
    if (auto queue = dispatch::Queue::current()) queueLabel_ = queue->label();
    char name[64] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) == 0) threadName_ = name;
}

DDLogMessage::DDLogMessage(const DDLogMessage& other)
    : logLevel_(other.logLevel_),
      logFlag_(other.logFlag_),
      logContext_(other.logContext_),
      logMsg_(other.logMsg_),
      timestamp_(other.timestamp_),
      file_(other.file_),
      function_(other.function_),
      lineNumber_(other.lineNumber_),
      machThreadID_(other.machThreadID_),
      queueLabel_(other.queueLabel_),
      threadName_(other.threadName_),
      tag_(other.tag_),
      options_(other.options_),
      fileCopy_(other.fileCopy_),
      functionCopy_(other.functionCopy_) {
    if ((options_ & DDLogMessageCopyFile) && file_) file_ = fileCopy_.c_str();
    if ((options_ & DDLogMessageCopyFunction) && function_) function_ = functionCopy_.c_str();
}

std::string DDLogMessage::threadID() const {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", machThreadID_);
    return buffer;
}

std::string DDLogMessage::fileName() const {
    if (!file_) return "";
    std::string name = file_;
    auto slash = name.rfind('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
    return name;
}

std::string DDLogMessage::methodName() const {
    return function_ ? std::string(function_) : std::string();
}

}  // namespace telvo
