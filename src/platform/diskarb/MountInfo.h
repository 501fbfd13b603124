#pragma once
// The kernel's mount table (/proc/self/mountinfo) as records: one per line, with the octal
// escapes of the root, mount point and source fields decoded. Lines that do not have the
// table's shape are skipped.
#include <string>
#include <string_view>
#include <vector>

namespace telvo::diskarb {

struct MountEntry {
    long long mountID = 0;
    long long parentID = 0;
    int major = 0;
    int minor = 0;
    std::string root;        // the mounted folder of the file system ("/" for all of it)
    std::string mountPoint;  // where it is mounted, never trimmed
    std::string options;
    std::string fsType;      // "ext4", "nfs4", "fuse.sshfs", ...
    std::string source;      // "/dev/vda1", "server:/export", ...
    std::string superOptions;
};

// Every "\ooo" escape (three octal digits) replaced by its byte; anything else kept.
std::string decodeMountField(std::string_view field);
std::vector<MountEntry> parseMountInfo(std::string_view text);

}  // namespace telvo::diskarb
