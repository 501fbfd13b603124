// Cost of logging: one record written by the file logger on its queue (formatting, the
// deletion/rename check, the write and the size check), and the caller's cost of DDLogInfo
// with and without a registered file logger (sustained: the caller waits once 1000 records
// are queued).
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>
#include <string>
#include "foundation/logging/DDFileLogger.h"
#include "foundation/logging/DDLog.h"
#include "foundation/logging/DDLogFileManagerDefault.h"

namespace {

std::string makeTemporaryFolder() {
    char pattern[] = "/tmp/telvo-logging-bench-XXXXXX";
    return mkdtemp(pattern) ? std::string(pattern) : std::string("/tmp");
}

void removeFolder(const std::string& folder) {
    std::string command = "rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0) std::abort();
}

std::shared_ptr<telvo::DDFileLogger> makeLogger(const std::string& folder) {
    auto manager = std::make_shared<telvo::DDLogFileManagerDefault>(folder);
    auto logger = std::make_shared<telvo::DDFileLogger>(manager);
    logger->setMaximumFileSize(0);  // no rolling inside the measurement
    (void)logger->maximumFileSize();
    return logger;
}

void BM_FileLoggerLogMessage(benchmark::State& state) {
    std::string folder = makeTemporaryFolder();
    auto logger = makeLogger(folder);
    auto message = std::make_shared<const telvo::DDLogMessage>(
        "copied /Library/Application Support/Telvo Server/file to its place", telvo::DDLogLevelAll,
        telvo::DDLogFlagInfo, 0, __FILE__, __func__, __LINE__, std::any(), 0);
    logger->loggerQueue()->sync([&] {
        for (auto _ : state) logger->logMessage(message);
    });
    state.SetItemsProcessed(state.iterations());
    logger.reset();
    removeFolder(folder);
}
BENCHMARK(BM_FileLoggerLogMessage);

void BM_DDLogInfo(benchmark::State& state) {
    std::string folder = makeTemporaryFolder();
    std::shared_ptr<telvo::DDFileLogger> logger;
    if (state.range(0)) {
        logger = makeLogger(folder);
        telvo::DDLog::addLogger(logger);
    }
    int i = 0;
    for (auto _ : state) DDLogInfo("record %d of %@", ++i, std::string("the benchmark"));
    telvo::DDLog::flushLog();
    state.SetItemsProcessed(state.iterations());
    if (logger) {
        telvo::DDLog::removeLogger(logger);
        telvo::DDLog::flushLog();
        logger->loggerQueue()->sync([] {});  // its removal (the last roll) has run
    }
    logger.reset();
    removeFolder(folder);
}
BENCHMARK(BM_DDLogInfo)->Arg(0)->Arg(1)->ArgName("fileLogger");

}  // namespace
