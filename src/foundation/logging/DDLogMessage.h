#pragma once
// One log record: the formatted text with its level, flag, source position and a description
// of the calling thread and queue, taken when the record is made. Immutable once made.
#include <any>
#include <cstdint>
#include <memory>
#include <string>

namespace telvo {

class DDLogMessage {
public:
    // Bits of `options`: the record keeps a copy of `file` / `function` of its own.
    enum : int { DDLogMessageCopyFile = 1 << 0, DDLogMessageCopyFunction = 1 << 1 };

    // Without the option bits the record keeps the caller's `file` and `function` pointers
    // (callers pass string constants).
    DDLogMessage(std::string logMsg, int level, int flag, int context, const char* file,
                 const char* function, int line, std::any tag, int options);
    DDLogMessage(const DDLogMessage& other);
    DDLogMessage& operator=(const DDLogMessage&) = delete;

    int logLevel() const { return logLevel_; }
    int logFlag() const { return logFlag_; }
    int logContext() const { return logContext_; }
    const std::string& logMsg() const { return logMsg_; }
    // Seconds since 1970 on the process clock.
    double timestamp() const { return timestamp_; }
    const char* file() const { return file_; }
    const char* function() const { return function_; }
    int lineNumber() const { return lineNumber_; }
    uint32_t machThreadID() const { return machThreadID_; }
    const std::string& queueLabel() const { return queueLabel_; }
    const std::string& threadName() const { return threadName_; }
    const std::any& tag() const { return tag_; }
    int options() const { return options_; }

    // The thread number in lowercase hexadecimal.
    std::string threadID() const;
    // The last path component of `file` less its last extension.
    std::string fileName() const;
    // `function` as a string; empty when absent.
    std::string methodName() const;

private:
    int logLevel_;
    int logFlag_;
    int logContext_;
    std::string logMsg_;
    double timestamp_;
    const char* file_;
    const char* function_;
    int lineNumber_;
    uint32_t machThreadID_;
    std::string queueLabel_;
    std::string threadName_;
    std::any tag_;
    int options_;
    std::string fileCopy_;
    std::string functionCopy_;
};

using DDLogMessagePtr = std::shared_ptr<const DDLogMessage>;

}  // namespace telvo
