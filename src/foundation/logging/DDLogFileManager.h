#pragma once
// What a file logger needs of the manager of its log directory: listing, creating and the
// count of archived files to keep. The two notifications are optional (empty by default).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "foundation/logging/DDLogFileInfo.h"

namespace telvo {

class DDLogFileManager {
public:
    virtual ~DDLogFileManager() = default;

    virtual std::string logsDirectory() = 0;
    virtual std::vector<std::string> unsortedLogFilePaths() = 0;
    virtual std::vector<std::string> unsortedLogFileNames() = 0;
    virtual std::vector<DDLogFileInfoPtr> unsortedLogFileInfos() = 0;
    virtual std::vector<std::string> sortedLogFilePaths() = 0;
    virtual std::vector<std::string> sortedLogFileNames() = 0;
    virtual std::vector<DDLogFileInfoPtr> sortedLogFileInfos() = 0;
    // Creates the next log file and answers its path.
    virtual std::string createNewLogFile() = 0;
    virtual uint64_t maximumNumberOfLogFiles() = 0;
    virtual void setMaximumNumberOfLogFiles(uint64_t maximum) = 0;

    // The description of a file of the directory (one reached through the directory's
    // descriptor for a manager that works through one).
    virtual DDLogFileInfoPtr logFileInfoForPath(const std::string& path) { return DDLogFileInfo::logFileWithPath(path); }

    // Optional.
    virtual void didArchiveLogFile(const std::string& /*logFilePath*/) {}
    virtual void didRollAndArchiveLogFile(const std::string& /*logFilePath*/) {}
};

using DDLogFileManagerPtr = std::shared_ptr<DDLogFileManager>;

}  // namespace telvo
