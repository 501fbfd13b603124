#pragma once
// Builds the disk descriptions of this machine: every disk and partition of sysfs (attached
// loop devices, mapper and software-RAID devices included; RAM disks left out), with the
// volume facts probed from their nodes (udev's record as the fallback) and their mount from
// the mount table, and every mounted network or ZFS volume. A device mounted more than once
// is described once: mount point "/" wins, else a mount of the file system's root, else the
// lowest mount ID.
#include <string>
#include <vector>

#include "platform/diskarb/MountInfo.h"
#include "platform/values/Value.h"

namespace telvo::diskarb {

// File-system types of network volumes, and those never described ("autofs").
bool isNetworkFileSystem(const std::string& fsType);

// The absolute file URL text of a folder ("/mnt/my share" -> "file:///mnt/my%20share/").
std::string fileURLText(const std::string& path);

// The one mount of each device (by "major:minor") and of each network or ZFS mount point
// that the winner rule picks, in mount-ID order.
std::vector<MountEntry> chooseMounts(const std::vector<MountEntry>& entries);

// Descriptions in a stable order: each whole disk followed by its partitions (disks in
// natural name order), then network and ZFS volumes in mount order. Reads the sysfs root of
// the registry, the mount table under the kernel-file root and the process-wide registry.
std::vector<Value> scanDisks();

}  // namespace telvo::diskarb
