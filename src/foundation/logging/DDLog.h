#pragma once
// The asynchronous logging core: any thread hands it a message, and one process-wide serial
// queue ("cocoa.lumberjack") delivers each record, in order, to every registered logger whose
// level admits the record's flag, each logger on a serial queue of its own. At most 1000
// records wait at a time; a caller beyond that blocks until one has been written. Records
// still queued when the process exits are written by an exit hook.
//
// Every message of the system is sent with flag 4 and level 31 through the macros below:
//     DDLogInfo("copied %@ to %@", source, destination);
#include <any>
#include <string>
#include <string_view>
#include <vector>
#include "foundation/logging/DDLogMessage.h"
#include "foundation/logging/DDLogger.h"
#include "platform/dispatch/Queue.h"
#include "platform/values/Format.h"

namespace telvo {

// Flags and the level every message of the system is sent with.
enum : int {
    DDLogFlagInfo = 4,
    DDLogLevelAll = 31,
};

class DDLog {
public:
    DDLog() = delete;

    static void addLogger(const DDLoggerPtr& logger);
    static void addLogger(const DDLoggerPtr& logger, int logLevel);
    static void removeLogger(const DDLoggerPtr& logger);
    static void removeAllLoggers();

    // Formats one message and queues it; `asynchronous` false waits until every logger has
    // handled it. A null format does nothing.
    template <class... Args>
    static void log(bool asynchronous, int level, int flag, int context, const char* file,
                    const char* function, int line, std::any tag, const char* format,
                    const Args&... args) {
        if (!format) return;
        logArgs(asynchronous, level, flag, context, file, function, line, std::move(tag), format,
                std::vector<FormatArg>{FormatArg(args)...});
    }
    template <class... Args>
    static void log(bool asynchronous, int level, int flag, int context, const char* file,
                    const char* function, int line, std::any tag, const std::string& format,
                    const Args&... args) {
        logArgs(asynchronous, level, flag, context, file, function, line, std::move(tag),
                format.c_str(), std::vector<FormatArg>{FormatArg(args)...});
    }
    // The same with the arguments already captured.
    static void logArgs(bool asynchronous, int level, int flag, int context, const char* file,
                        const char* function, int line, std::any tag, const char* format,
                        const std::vector<FormatArg>& args);
    static void queueLogMessage(const DDLogMessagePtr& logMessage, bool asynchronously);

    // Returns when every message queued before it has been delivered and every logger has
    // flushed.
    static void flushLog();
    static dispatch::QueuePtr loggingQueue();
    // True while a block of the logging queue runs on this thread.
    static bool isOnLoggingQueue();
    static void applicationWillTerminate();

    // Per-class levels are switched off: no class is registered and every class logs all.
    static std::vector<std::string> registeredClassNames() { return {}; }
    static bool isRegisteredClass(std::string_view) { return false; }
    static int logLevelForClassWithName(std::string_view) { return -1; }
    static void setLogLevelForClassWithName(int, std::string_view) {}

    // Tests: waits for pending records, removes every logger (their willRemoveLogger runs and
    // is waited for) and restores the processor count.
    static void resetForTesting();
    // Tests: the processor count that chooses serial (1) or parallel (>= 2) delivery.
    static void setProcessorCountForTesting(unsigned count);
};

}  // namespace telvo

#define TELVO_DDLOG_MACRO(flag, fmt, ...)                                                          \
    ::telvo::DDLog::log(true, ::telvo::DDLogLevelAll, (flag), 0, __FILE__, __func__, __LINE__, \
                        std::any(), (fmt)__VA_OPT__(, ) __VA_ARGS__)

// The system sends every message with flag 4 and level 31, whatever its severity.
#define DDLogError(fmt, ...) TELVO_DDLOG_MACRO(::telvo::DDLogFlagInfo, fmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogWarn(fmt, ...) TELVO_DDLOG_MACRO(::telvo::DDLogFlagInfo, fmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogInfo(fmt, ...) TELVO_DDLOG_MACRO(::telvo::DDLogFlagInfo, fmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogDebug(fmt, ...) TELVO_DDLOG_MACRO(::telvo::DDLogFlagInfo, fmt __VA_OPT__(, ) __VA_ARGS__)
#define DDLogVerbose(fmt, ...) TELVO_DDLOG_MACRO(::telvo::DDLogFlagInfo, fmt __VA_OPT__(, ) __VA_ARGS__)
