#include "foundation/logging/DDLogFileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include "foundation/logging/PosixError.h"
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {

std::atomic<bool> gAttributesUnavailable{false};

bool isUnsupported(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP;
}

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

enum class AttributeState { Present, Absent, Unsupported };

// `fd` >= 0: the file's descriptor (folder mode); else the path is used.
AttributeState attributeState(int fd, const std::string& path, const std::string& name) {
    if (gAttributesUnavailable) return AttributeState::Unsupported;
    const std::string attribute = fs::systemAttributeName(name);
    ssize_t n = fd >= 0 ? fgetxattr(fd, attribute.c_str(), nullptr, 0)
                        : getxattr(fs::resolve(path).c_str(), attribute.c_str(), nullptr, 0);
    if (n >= 0) return AttributeState::Present;
    return isUnsupported(errno) ? AttributeState::Unsupported : AttributeState::Absent;
}

std::string nameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class ScopedFd {
public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

double toSeconds(const struct statx_timestamp& t) {
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::string directoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash + 1);
}

}  // namespace

void DDLogFileInfo::setExtendedAttributesUnavailableForTesting(bool unavailable) {
    gAttributesUnavailable = unavailable;
}

DDLogFileInfoPtr DDLogFileInfo::logFileWithPath(const std::string& filePath) {
    return std::make_shared<DDLogFileInfo>(filePath);
}

DDLogFileInfoPtr DDLogFileInfo::logFileInFolder(LogFolderPtr folder, const std::string& filePath) {
    return std::make_shared<DDLogFileInfo>(filePath, std::move(folder));
}

DDLogFileInfo::DDLogFileInfo(std::string filePath, LogFolderPtr folder)
    : filePath_(std::move(filePath)), folder_(std::move(folder)) {}

int DDLogFileInfo::openInFolder() const {
    return folder_ ? folder_->openFile(nameOf(filePath_), O_RDONLY) : -1;
}

int DDLogFileInfo::openForWriting() {
    if (folder_) return folder_->openFile(nameOf(filePath_), O_WRONLY);
    return ::open(fs::resolve(filePath_).c_str(), O_WRONLY | O_CLOEXEC);
}

const std::string& DDLogFileInfo::fileName() {
    if (!fileName_) {
        auto slash = filePath_.rfind('/');
        fileName_ = slash == std::string::npos ? filePath_ : filePath_.substr(slash + 1);
    }
    return *fileName_;
}

void DDLogFileInfo::readAttributes() {
    if (!fileAttributes_.isNull()) return;
    struct statx sx {};
    int status = folder_ ? statx(folder_->fd(), nameOf(filePath_).c_str(), AT_SYMLINK_NOFOLLOW,
                                 STATX_BASIC_STATS | STATX_BTIME, &sx)
                         : statx(AT_FDCWD, fs::resolve(filePath_).c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx);
    if (status != 0) return;
    double modified = toSeconds(sx.stx_mtime);
    double created = (sx.stx_mask & STATX_BTIME) ? toSeconds(sx.stx_btime) : modified;
    ValueDictionary attributes;
    attributes["FileSize"] = Value(uint64_t(sx.stx_size));
    attributes["FileCreationDate"] = Value::dateFromSeconds(created);
    attributes["FileModificationDate"] = Value::dateFromSeconds(modified);
    attributes["FilePosixPermissions"] = Value(unsigned(sx.stx_mode & 07777));
    fileAttributes_ = Value(std::move(attributes));
}

const Value& DDLogFileInfo::fileAttributes() {
    readAttributes();
    return fileAttributes_;
}

std::optional<double> DDLogFileInfo::creationDate() {
    if (!creationDate_) {
        const Value& attributes = fileAttributes();
        if (attributes.has("FileCreationDate")) creationDate_ = attributes["FileCreationDate"].date().seconds;
    }
    return creationDate_;
}

std::optional<double> DDLogFileInfo::modificationDate() {
    if (!modificationDate_) {
        const Value& attributes = fileAttributes();
        if (attributes.has("FileModificationDate")) modificationDate_ = attributes["FileModificationDate"].date().seconds;
    }
    return modificationDate_;
}

uint64_t DDLogFileInfo::fileSize() {
    if (fileSize_ == 0) {
        // Read afresh as long as the kept size is 0: a file still empty when first seen grows.
        struct stat st {};
        int status = folder_ ? fstatat(folder_->fd(), nameOf(filePath_).c_str(), &st, AT_SYMLINK_NOFOLLOW)
                             : stat(fs::resolve(filePath_).c_str(), &st);
        if (status == 0) fileSize_ = uint64_t(st.st_size);
    }
    return fileSize_;
}

double DDLogFileInfo::age() {
    auto created = creationDate();
    return created ? platform::Clock::now() - *created : 0.0;
}

bool DDLogFileInfo::isArchived() {
    ScopedFd fd(openInFolder());
    if (folder_ && fd.get() < 0) return false;
    switch (attributeState(fd.get(), filePath_, kArchivedAttributeName)) {
    case AttributeState::Present: return true;
    case AttributeState::Absent: return false;
    case AttributeState::Unsupported: break;
    }
    struct stat st {};
    if ((folder_ ? fstat(fd.get(), &st) : stat(fs::resolve(filePath_).c_str(), &st)) != 0) return false;
    return (st.st_mode & kWriteBits) == 0;
}

void DDLogFileInfo::setIsArchived(bool flag) {
    if (flag) {
        addExtendedAttributeWithName(kArchivedAttributeName);
    } else {
        removeExtendedAttributeWithName(kArchivedAttributeName);
    }
}

void DDLogFileInfo::reset() {
    fileName_.reset();
    fileAttributes_ = Value();
    creationDate_.reset();
    modificationDate_.reset();
}

void DDLogFileInfo::renameFile(const std::string& newFileName) {
    if (newFileName == fileName()) return;
    std::string newPath = directoryOf(filePath_) + newFileName;
    int status = folder_ ? ::renameat(folder_->fd(), fileName().c_str(), folder_->fd(), newFileName.c_str())
                         : ::rename(fs::resolve(filePath_).c_str(), fs::resolve(newPath).c_str());
    if (status != 0) {
        int error = errno;
        std::fprintf(stderr, "DDLogFileInfo: Error renaming file (%s): %s\n", fileName().c_str(),
                     posixErrorDescription(error).c_str());
    }
    filePath_ = newPath;
    fileSize_ = 0;
    reset();
}

bool DDLogFileInfo::hasExtendedAttributeWithName(const std::string& attrName) {
    ScopedFd fd(openInFolder());
    if (folder_ && fd.get() < 0) return false;
    return attributeState(fd.get(), filePath_, attrName) == AttributeState::Present;
}

// Applies the fallback mark (write permission) for the archived attribute; answers success.
static bool setFallbackArchivedMark(int fd, const std::string& path, bool archived) {
    std::string resolved = fs::resolve(path);
    struct stat st {};
    if ((fd >= 0 ? fstat(fd, &st) : stat(resolved.c_str(), &st)) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    mode = archived ? (mode & ~kWriteBits) : (mode | S_IWUSR);
    return (fd >= 0 ? fchmod(fd, mode) : chmod(resolved.c_str(), mode)) == 0;
}

void DDLogFileInfo::addExtendedAttributeWithName(const std::string& attrName) { changeExtendedAttribute(attrName, true); }

void DDLogFileInfo::removeExtendedAttributeWithName(const std::string& attrName) {
    changeExtendedAttribute(attrName, false);
}

void DDLogFileInfo::changeExtendedAttribute(const std::string& attrName, bool add) {
    std::string resolved = fs::resolve(filePath_);
    ScopedFd fd(openInFolder());
    int result = -1;
    int error = folder_ && fd.get() < 0 ? errno : ENOTSUP;
    if (!gAttributesUnavailable && (!folder_ || fd.get() >= 0)) {
        const std::string attribute = fs::systemAttributeName(attrName);
        if (add)
            result = fd.get() >= 0 ? fsetxattr(fd.get(), attribute.c_str(), "", 0, 0)
                                   : setxattr(resolved.c_str(), attribute.c_str(), "", 0, 0);
        else
            result = fd.get() >= 0 ? fremovexattr(fd.get(), attribute.c_str())
                                   : removexattr(resolved.c_str(), attribute.c_str());
        error = errno;
    }
    // Removing an attribute the file does not have is no failure.
    if (result == 0 || (!add && error == ENODATA)) return;
    if (isUnsupported(error) && attrName == kArchivedAttributeName && (!folder_ || fd.get() >= 0)) {
        if (setFallbackArchivedMark(fd.get(), filePath_, add)) return;
        error = errno;
    }
    std::fprintf(stderr, "DDLogFileInfo: %s(%s, %s): error = %s\n", add ? "setxattr" : "removexattr", attrName.c_str(),
                 fileName().c_str(), std::strerror(error));
}

static int reverseCompare(std::optional<double> mine, std::optional<double> theirs) {
    if (!mine || !theirs || *mine == *theirs) return 0;
    return *mine > *theirs ? -1 : 1;
}

int DDLogFileInfo::reverseCompareByCreationDate(DDLogFileInfo& other) {
    return reverseCompare(creationDate(), other.creationDate());
}

int DDLogFileInfo::reverseCompareByModificationDate(DDLogFileInfo& other) {
    return reverseCompare(modificationDate(), other.modificationDate());
}

std::string DDLogFileInfo::description() {
    auto orEmpty = [](std::optional<double> date) {
        return date ? Value::dateFromSeconds(*date) : Value("");
    };
    ValueDictionary d;
    d["filePath"] = Value(filePath_);
    d["fileName"] = Value(fileName());
    d["fileAttributes"] = fileAttributes().isNull() ? Value("") : fileAttributes();
    d["creationDate"] = orEmpty(creationDate());
    d["modificationDate"] = orEmpty(modificationDate());
    d["fileSize"] = Value(fileSize());
    d["age"] = Value(age());
    d["isArchived"] = Value(isArchived());
    return Value(std::move(d)).description();
}

}  // namespace telvo
