#include "foundation/logging/DDLogFileManagerDefault.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include "foundation/logging/DDLog.h"
#include "foundation/logging/PosixError.h"
#include "platform/fs/Root.h"
#include "platform/process/ProcessIdentity.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {

std::mutex gNameMutex;
std::optional<std::string> gApplicationName;

std::string joinPath(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

bool isDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

double coarseWallClock() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME_COARSE, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The files' order is their birth time, which the kernel stamps from its coarse clock (a tick
// of a few milliseconds): files made within one tick would have equal dates and no order.
// Waits (a tick at most) until a new file is sure to be born after `newest`.
void waitUntilAfter(double newest) {
    for (int i = 0; i < 100 && coarseWallClock() <= newest; ++i) {
        struct timespec pause {0, 1000000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

std::string DDLogFileManagerDefault::processApplicationName() {
    std::lock_guard<std::mutex> lock(gNameMutex);
    if (!gApplicationName) gApplicationName = platform::ProcessIdentity::bundleIdentifier();
    return *gApplicationName;
}

void DDLogFileManagerDefault::resetForTesting() {
    std::lock_guard<std::mutex> lock(gNameMutex);
    gApplicationName.reset();
}

std::string DDLogFileManagerDefault::defaultLogsDirectory() {
    const char* home = std::getenv("HOME");
    std::string library = home && *home ? "~/Library" : "/tmp";
    return library + "/Logs/" + platform::ProcessIdentity::programName();
}

DDLogFileManagerDefault::DDLogFileManagerDefault(std::string logsDirectory)
    : logsDirectory_(logsDirectory.empty() ? defaultLogsDirectory() : std::move(logsDirectory)),
      applicationName_(processApplicationName()),
      logFileDateFormatter_(std::make_shared<const LogDateFormatter>("yyyy'-'MM'-'dd' 'HH'-'mm'", true)) {}

DDLogFileManagerDefault::DDLogFileManagerDefault(LogFolderPtr folder)
    : logsDirectory_(folder->path()),
      folder_(std::move(folder)),
      applicationName_(processApplicationName()),
      logFileDateFormatter_(std::make_shared<const LogDateFormatter>("yyyy'-'MM'-'dd' 'HH'-'mm'", true)) {}

DDLogFileInfoPtr DDLogFileManagerDefault::logFileInfoForPath(const std::string& path) {
    return folder_ ? DDLogFileInfo::logFileInFolder(folder_, path) : DDLogFileInfo::logFileWithPath(path);
}

std::string DDLogFileManagerDefault::logsDirectory() {
    if (folder_) return logsDirectory_;
    if (!fs::exists(logsDirectory_)) {
        if (!fs::createDirectories(logsDirectory_)) {
            int error = errno;
            std::fprintf(stderr, "DDFileLogManagerDefault: Error creating logsDirectory: %s\n",
                         posixErrorDescription(error).c_str());
        }
    }
    return logsDirectory_;
}

void DDLogFileManagerDefault::setMaximumNumberOfLogFiles(uint64_t maximum) {
    if (maximumNumberOfLogFiles_.exchange(maximum) == maximum) return;
    auto self = shared_from_this();
    DDLog::loggingQueue()->async([self] { self->deleteOldLogFiles(); });
}

bool DDLogFileManagerDefault::isLogFile(const std::string& fileName) const {
    // "<application name> <yyyy-MM-dd HH-mm>[ <n>].log", the application name exactly: a
    // name that merely begins with ours belongs to another program.
    static const std::string kExtension = ".log";
    const std::string prefix = applicationName_ + " ";
    if (fileName.size() < prefix.size() + kExtension.size()) return false;
    if (fileName.compare(0, prefix.size(), prefix) != 0) return false;
    if (fileName.compare(fileName.size() - kExtension.size(), kExtension.size(), kExtension) != 0) return false;
    std::string_view middle(fileName);
    middle = middle.substr(prefix.size(), fileName.size() - prefix.size() - kExtension.size());
    constexpr size_t kDateLength = 16;  // "yyyy-MM-dd HH-mm"
    if (middle.size() < kDateLength) return false;
    std::string_view rest = middle.substr(kDateLength);
    if (!rest.empty() && !(rest[0] == ' ' && isDigits(rest.substr(1)))) return false;
    return logFileDateFormatter_->dateFromString(middle.substr(0, kDateLength)).has_value();
}

std::string DDLogFileManagerDefault::newLogFileName() const {
    return applicationName_ + " " + logFileDateFormatter_->stringFromDate(platform::Clock::now()) + ".log";
}

std::vector<std::string> DDLogFileManagerDefault::unsortedLogFileNames() {
    std::vector<std::string> names;
    std::string directory = logsDirectory();
    DIR* dir = nullptr;
    if (folder_) {
        int fd = ::openat(folder_->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0 && !(dir = fdopendir(fd))) ::close(fd);
    } else {
        dir = opendir(fs::resolve(directory).c_str());
    }
    if (!dir) return names;
    while (struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (isLogFile(name)) names.push_back(name);
    }
    closedir(dir);
    return names;
}

std::vector<std::string> DDLogFileManagerDefault::unsortedLogFilePaths() {
    std::vector<std::string> paths;
    for (const auto& name : unsortedLogFileNames()) paths.push_back(joinPath(logsDirectory_, name));
    return paths;
}

std::vector<DDLogFileInfoPtr> DDLogFileManagerDefault::unsortedLogFileInfos() {
    std::vector<DDLogFileInfoPtr> infos;
    for (const auto& path : unsortedLogFilePaths()) infos.push_back(logFileInfoForPath(path));
    return infos;
}

std::vector<DDLogFileInfoPtr> DDLogFileManagerDefault::sortedLogFileInfos() {
    auto infos = unsortedLogFileInfos();
    // Newest first; a file whose date cannot be read (gone meanwhile) counts as the oldest.
    std::stable_sort(infos.begin(), infos.end(), [](const DDLogFileInfoPtr& a, const DDLogFileInfoPtr& b) {
        return a->creationDate().value_or(-1e300) > b->creationDate().value_or(-1e300);
    });
    return infos;
}

std::vector<std::string> DDLogFileManagerDefault::sortedLogFilePaths() {
    std::vector<std::string> paths;
    for (const auto& info : sortedLogFileInfos()) paths.push_back(info->filePath());
    return paths;
}

std::vector<std::string> DDLogFileManagerDefault::sortedLogFileNames() {
    std::vector<std::string> names;
    for (const auto& info : sortedLogFileInfos()) names.push_back(info->fileName());
    return names;
}

std::string DDLogFileManagerDefault::createNewLogFile() {
    const std::string fileName = newLogFileName();
    const std::string directory = logsDirectory();

    auto existing = sortedLogFileInfos();
    if (!existing.empty()) {
        if (auto newest = existing.front()->creationDate()) waitUntilAfter(*newest);
    }

    const auto dot = fileName.rfind('.');
    for (unsigned long attempt = 1;; ++attempt) {
        std::string actualName = fileName;
        if (attempt > 1) {
            actualName = fileName.substr(0, dot) + " " + std::to_string(attempt) + fileName.substr(dot);
        }
        std::string path = joinPath(directory, actualName);
        if (folder_) {
            struct stat st {};
            if (fstatat(folder_->fd(), actualName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) continue;
            int fd = folder_->createFile(actualName, 0644);
            if (fd < 0 && errno == EEXIST) continue;
            if (fd < 0) {
                std::fprintf(stderr, "DDLogFileManagerDefault: cannot make %s: %s\n", actualName.c_str(),
                             posixErrorDescription(errno).c_str());
                return path;
            }
            ::close(fd);
            deleteOldLogFiles();
            return path;
        }
        std::string resolved = fs::resolve(path);
        struct stat st {};
        if (lstat(resolved.c_str(), &st) == 0) continue;
        int fd = ::open(resolved.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;  // made by someone else meanwhile
        if (fd >= 0) ::close(fd);
        deleteOldLogFiles();
        return path;
    }
}

void DDLogFileManagerDefault::deleteOldLogFiles() {
    const uint64_t maximum = maximumNumberOfLogFiles_;
    if (maximum == 0) return;
    auto sorted = sortedLogFileInfos();
    size_t first = 0;
    // The newest file, when not archived, is normally the one being written: not counted.
    if (!sorted.empty() && !sorted.front()->isArchived()) first = 1;
    for (size_t i = first + maximum; i < sorted.size(); ++i) {
        if (folder_) {
            ::unlinkat(folder_->fd(), sorted[i]->fileName().c_str(), 0);
        } else {
            ::unlink(fs::resolve(sorted[i]->filePath()).c_str());
        }
    }
}

}  // namespace telvo
