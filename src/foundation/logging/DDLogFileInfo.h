#pragma once
// Describes one log file: its path, name, attributes, dates and size (read once and kept),
// its age, and whether it carries the archived mark.
//
// The archived mark is the extended attribute "lumberjack.log.archived" (on Linux in the
// "user." namespace: "user.lumberjack.log.archived") with an empty value. On a file system
// without user extended attributes the mark is the file's write permission instead: an
// archived file is made read-only (all write bits cleared), which survives a restart and stays
// with the file when it is renamed.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include "foundation/logging/LogFolder.h"
#include "platform/values/Value.h"

namespace telvo {

class DDLogFileInfo;
using DDLogFileInfoPtr = std::shared_ptr<DDLogFileInfo>;

class DDLogFileInfo {
public:
    static constexpr const char* kArchivedAttributeName = "lumberjack.log.archived";

    static DDLogFileInfoPtr logFileWithPath(const std::string& filePath);
    // A file of an open log folder: every operation goes through the folder's descriptor.
    static DDLogFileInfoPtr logFileInFolder(LogFolderPtr folder, const std::string& filePath);
    explicit DDLogFileInfo(std::string filePath, LogFolderPtr folder = nullptr);
    virtual ~DDLogFileInfo() = default;

    const std::string& filePath() const { return filePath_; }
    const std::string& fileName();
    // A dictionary of "FileSize", "FileCreationDate", "FileModificationDate" and
    // "FilePosixPermissions"; null until it could be read.
    const Value& fileAttributes();
    // Seconds since 1970; none when the file cannot be read. The creation date is the file
    // system's birth time, or the modification time where it keeps none.
    std::optional<double> creationDate();
    std::optional<double> modificationDate();
    uint64_t fileSize();
    // Seconds since the creation date (0 without one).
    double age();

    bool isArchived();
    void setIsArchived(bool flag);

    // Forgets every kept value but the path and the size.
    void reset();
    // Moves the file to `newFileName` in the same directory; the info then describes the new
    // path either way.
    void renameFile(const std::string& newFileName);

    // Opens the file for appending (through the folder in folder mode); -1 and errno on failure.
    int openForWriting();
    const LogFolderPtr& folder() const { return folder_; }

    bool hasExtendedAttributeWithName(const std::string& attrName);
    void addExtendedAttributeWithName(const std::string& attrName);
    void removeExtendedAttributeWithName(const std::string& attrName);

    bool isEqual(const DDLogFileInfo& other) const { return filePath_ == other.filePath_; }
    // -1 when this file is newer, 1 when older, 0 when equal or unknown (newest first).
    int reverseCompareByCreationDate(DDLogFileInfo& other);
    int reverseCompareByModificationDate(DDLogFileInfo& other);

    std::string description();

    // Tests: behave as on a file system without user extended attributes.
    static void setExtendedAttributesUnavailableForTesting(bool unavailable);

private:
    void readAttributes();
    // A read-only descriptor of the file for attribute work in folder mode; -1 on failure.
    int openInFolder() const;
    // Sets (`add`) or removes an extended attribute, with the archived mark's fallback where
    // the file system keeps no attributes; a failure is written to standard error.
    void changeExtendedAttribute(const std::string& attrName, bool add);

    std::string filePath_;
    LogFolderPtr folder_;
    std::optional<std::string> fileName_;
    Value fileAttributes_;
    std::optional<double> creationDate_;
    std::optional<double> modificationDate_;
    uint64_t fileSize_ = 0;
};

}  // namespace telvo
