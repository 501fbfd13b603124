// Sets the file logger up as the installation steps do, logs a burst of records and returns
// from main at once: the exit hook must write every queued record.
// Usage: telvo_logging_exit <log directory> <run name> <record count>
#include <cstdlib>
#include <memory>
#include <string>
#include "foundation/logging/DDFileLogger.h"
#include "foundation/logging/DDLog.h"
#include "foundation/logging/DDLogFileManagerDefault.h"
#include "platform/process/ProcessIdentity.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    telvo::platform::ProcessIdentity::setBundleIdentifier("com.kestro.telvoserver.exittest");
    auto manager = std::make_shared<telvo::DDLogFileManagerDefault>(argv[1]);
    auto logger = std::make_shared<telvo::DDFileLogger>(manager);
    logger->setRollingFrequency(315360000);
    logger->logFileManager()->setMaximumNumberOfLogFiles(7);
    logger->setMaximumFileSize(10485760);
    telvo::DDLog::addLogger(logger);
    const std::string run = argv[2];
    const int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) DDLogInfo("%@ record %d", run, i);
    DDLogInfo("last record before exit of %@", run);
    return 0;
}
