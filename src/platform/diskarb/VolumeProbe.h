#pragma once
// What a block device holds, read with libblkid from its device node: the file system's
// type, UUID and label, and for a whole disk the partition table's entries (number, entry
// UUID, type). udev's record of the device (/run/udev/data) is the fallback when the node
// cannot be probed.
#include <map>
#include <string>

namespace telvo::diskarb {

struct VolumeFacts {
    std::string type;   // file system type ("ext4", "vfat", "swap", ...); empty when none
    std::string uuid;   // file system UUID text
    std::string label;  // file system label
    std::string subUUID;  // a software-RAID member's own UUID ("UUID_SUB"); empty when none
};

struct PartitionFacts {
    std::string uuid;  // the partition entry's UUID (GPT) or "<disk id>-<nn>" (MBR)
    std::string type;  // GPT type GUID in lower case, or "0x%x" of an MBR type byte
    std::string name;  // the entry's name, when the table keeps one
};

// Probes the node's file system; false when it cannot be opened or holds none known.
bool probeVolume(const std::string& deviceNode, VolumeFacts& facts);
// The partition entries of a whole disk by partition number; empty when unreadable.
std::map<int, PartitionFacts> probePartitions(const std::string& deviceNode);
// The "E:KEY=value" lines of udev's record of a block device (under the kernel-file root of host::ProcRoot);
// empty when udev keeps none.
std::map<std::string, std::string> udevProperties(int major, int minor);

}  // namespace telvo::diskarb
