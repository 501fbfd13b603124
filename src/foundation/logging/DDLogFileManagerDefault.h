#pragma once
// The manager of a log directory: names new files "<application name> <UTC creation time>.log"
// (" 2", " 3", ... before ".log" when the name is taken), lists the files that are ours, and
// deletes the oldest archived files beyond `maximumNumberOfLogFiles`. Files of the directory
// whose names are not exactly of that form for our application name are never listed,
// reused or deleted.
#include <atomic>
#include <memory>
#include <string>
#include "foundation/logging/DDLogFileManager.h"
#include "foundation/logging/LogFolder.h"
#include "foundation/logging/LogDateFormatter.h"

namespace telvo {

class DDLogFileManagerDefault : public DDLogFileManager,
                                public std::enable_shared_from_this<DDLogFileManagerDefault> {
public:
    // An empty directory means the default one. Make it with std::make_shared.
    explicit DDLogFileManagerDefault(std::string logsDirectory = "");
    // Folder-descriptor mode: the directory is the open folder (its path as given), listed,
    // made into, renamed in and deleted from through its descriptor only; new files belong to
    // the folder's owner.
    explicit DDLogFileManagerDefault(LogFolderPtr folder);

    std::string logsDirectory() override;
    std::vector<std::string> unsortedLogFilePaths() override;
    std::vector<std::string> unsortedLogFileNames() override;
    std::vector<DDLogFileInfoPtr> unsortedLogFileInfos() override;
    std::vector<std::string> sortedLogFilePaths() override;
    std::vector<std::string> sortedLogFileNames() override;
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override;
    std::string createNewLogFile() override;
    DDLogFileInfoPtr logFileInfoForPath(const std::string& path) override;
    const LogFolderPtr& folder() const { return folder_; }

    uint64_t maximumNumberOfLogFiles() override { return maximumNumberOfLogFiles_; }
    // A change of the value queues a deletion pass on the logging queue.
    void setMaximumNumberOfLogFiles(uint64_t maximum) override;
    void deleteOldLogFiles();

    bool isLogFile(const std::string& fileName) const;
    std::string newLogFileName() const;
    const LogDateFormatterPtr& logFileDateFormatter() const { return logFileDateFormatter_; }
    const std::string& applicationName() const { return applicationName_; }
    // "~/Library/Logs/<process name>" (the temporary folder's "Logs" without a home folder).
    static std::string defaultLogsDirectory();

    // The process-wide application name: the bundle identifier (a configured one, else the
    // program name), worked out once per process.
    static std::string processApplicationName();
    // Tests: work the application name out again on next use.
    static void resetForTesting();

private:
    std::string logsDirectory_;
    LogFolderPtr folder_;
    std::string applicationName_;
    LogDateFormatterPtr logFileDateFormatter_;
    std::atomic<uint64_t> maximumNumberOfLogFiles_{5};
};

}  // namespace telvo
