#include "foundation/logging/DDLog.h"

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include "foundation/logging/DDLoggerNode.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Semaphore.h"

namespace telvo {

namespace {

// Marks the logging queue.
const char kLoggingQueueKey = 0;
// Records queued and not yet written.
constexpr long kMaximumQueuedRecords = 1000;

unsigned hostProcessorCount() {
    long count = sysconf(_SC_NPROCESSORS_CONF);
    return count > 0 ? unsigned(count) : 1;
}

struct Core {
    // Only on the logging queue.
    std::vector<std::shared_ptr<DDLoggerNode>> nodes;
    dispatch::QueuePtr queue;
    dispatch::Group group;
    dispatch::Semaphore semaphore{kMaximumQueuedRecords};
    std::atomic<unsigned> processors{1};
};

// Longest wait of the exit hook (real seconds): an exit called from inside a delivery would
// otherwise wait for itself.
constexpr double kExitFlushTimeout = 10;

void flushNodes(Core& c);
Core& core();

// At exit the calling thread's thread-local state (the dispatch layer's record of the queue
// it runs) is already destroyed, so the hook neither syncs nor asks which queue it is on:
// it queues the flush and waits for it.
void flushOnExit() {
    auto& c = core();
    auto done = std::make_shared<dispatch::Semaphore>(0);
    c.queue->async([&c, done] {
        flushNodes(c);
        done->signal();
    });
    done->wait(kExitFlushTimeout);
}

// Made on first use and never destroyed: the exit hook and loggers on other threads may still
// use it while static objects are torn down.
Core& core() {
    static Core* instance = [] {
        auto* c = new Core;
        c->nodes.reserve(4);
        c->queue = dispatch::Queue::createSerial("cocoa.lumberjack");
        c->queue->setSpecific(&kLoggingQueueKey, const_cast<char*>(&kLoggingQueueKey));
        c->processors = hostProcessorCount();
        // Start the queue machinery before registering the hook, so that the hook runs at exit
        // before that machinery is torn down.
        c->queue->sync([] {});
        std::atexit(flushOnExit);
        return c;
    }();
    return *instance;
}

void deliver(Core& c, const DDLogMessagePtr& message) {
    if (c.processors <= 1) {
        for (auto& node : c.nodes) {
            if (node->logLevel() & message->logFlag()) {
                node->loggerQueue->sync([&] { node->logger->logMessage(message); });
            }
        }
    } else {
        bool any = false;
        for (auto& node : c.nodes) {
            if (node->logLevel() & message->logFlag()) {
                auto logger = node->logger;
                c.group.async(node->loggerQueue, [logger, message] { logger->logMessage(message); });
                any = true;
            }
        }
        if (any) c.group.wait();
    }
}

// Runs `willRemoveLogger` of every node on its queue, waits for all of them when asked, and
// empties the list. On the logging queue.
void removeAllNodes(Core& c, bool wait) {
    for (auto& node : c.nodes) {
        auto logger = node->logger;
        if (wait) {
            c.group.async(node->loggerQueue, [logger] { logger->willRemoveLogger(); });
        } else {
            node->loggerQueue->async([logger] { logger->willRemoveLogger(); });
        }
    }
    c.nodes.clear();
    if (wait) c.group.wait();
}

}  // namespace

void DDLog::addLogger(const DDLoggerPtr& logger) {
    addLogger(logger, DDLogLevelAll);
}

void DDLog::addLogger(const DDLoggerPtr& logger, int logLevel) {
    if (!logger) return;
    auto& c = core();
    c.queue->async([&c, logger, logLevel] {
        dispatch::QueuePtr queue = logger->loggerQueue();
        if (!queue) queue = dispatch::Queue::createSerial(logger->loggerName());
        c.nodes.push_back(DDLoggerNode::nodeWithLogger(logger, queue, logLevel));
        queue->async([logger] { logger->didAddLogger(); });
    });
}

void DDLog::removeLogger(const DDLoggerPtr& logger) {
    if (!logger) return;
    auto& c = core();
    c.queue->async([&c, logger] {
        auto it = std::find_if(c.nodes.begin(), c.nodes.end(),
                               [&](const std::shared_ptr<DDLoggerNode>& node) { return node->logger == logger; });
        if (it == c.nodes.end()) return;
        auto node = *it;
        node->loggerQueue->async([logger] { logger->willRemoveLogger(); });
        c.nodes.erase(it);
    });
}

void DDLog::removeAllLoggers() {
    auto& c = core();
    c.queue->async([&c] { removeAllNodes(c, false); });
}

void DDLog::logArgs(bool asynchronous, int level, int flag, int context, const char* file,
                    const char* function, int line, std::any tag, const char* format,
                    const std::vector<FormatArg>& args) {
    if (!format) return;
    auto message = std::make_shared<const DDLogMessage>(formatArgs(format, args), level, flag, context,
                                                        file, function, line, std::move(tag), 0);
    queueLogMessage(message, asynchronous);
}

void DDLog::queueLogMessage(const DDLogMessagePtr& logMessage, bool asynchronously) {
    if (!logMessage) return;
    auto& c = core();
    if (isOnLoggingQueue()) {
        // A logger logging from inside a delivery: waiting for a free place here could wait
        // for this very queue, so the record is queued without taking one.
        c.queue->async([&c, logMessage] { deliver(c, logMessage); });
        return;
    }
    c.semaphore.wait();
    auto block = [&c, logMessage] {
        deliver(c, logMessage);
        c.semaphore.signal();
    };
    if (asynchronously) {
        c.queue->async(block);
    } else {
        c.queue->sync(block);
    }
}

namespace {
// On the logging queue: every logger flushes, in parallel; returns when all have.
void flushNodes(Core& c) {
    bool any = false;
    for (auto& node : c.nodes) {
        auto logger = node->logger;
        c.group.async(node->loggerQueue, [logger] { logger->flush(); });
        any = true;
    }
    if (any) c.group.wait();
}
}  // namespace

void DDLog::flushLog() {
    auto& c = core();
    auto flushAll = [&c] { flushNodes(c); };
    if (isOnLoggingQueue()) {
        flushAll();
    } else {
        c.queue->sync(flushAll);
    }
}

dispatch::QueuePtr DDLog::loggingQueue() {
    return core().queue;
}

bool DDLog::isOnLoggingQueue() {
    return dispatch::Queue::getSpecific(&kLoggingQueueKey) == &kLoggingQueueKey;
}

void DDLog::applicationWillTerminate() {
    flushLog();
}

void DDLog::resetForTesting() {
    auto& c = core();
    c.queue->sync([&c] { removeAllNodes(c, true); });
    c.processors = hostProcessorCount();
}

void DDLog::setProcessorCountForTesting(unsigned count) {
    core().processors = count ? count : 1;
}

}  // namespace telvo
