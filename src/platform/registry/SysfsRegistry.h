#pragma once
// The Linux backend of the registry: a tree built from sysfs. Below the platform expert
// ("IOPlatformExpertDevice", named by the DMI product name) stand the device directories that
// lead to each block device, parents first; under a disk's device come its
// "IOBlockStorageDevice" (with "Device Characteristics", "Protocol Characteristics", and
// "SMART Capable" when the drive declares it), the "IOBlockStorageDriver" (with live
// "Statistics"), the whole-disk "IOMedia", and below it an "IOPartitionScheme" holding one
// "IOMedia" per partition (with the entry's "UUID" and type as "Content"). BSD names are the
// kernel's names ("sda", "nvme0n1p2"). Of the virtual devices attached loop devices (disk
// images) appear as disks, and md software-RAID sets below their members' media (a member
// object, a set object and, under the first member, the set's own "IOMedia"); RAM and mapper
// devices do not appear.
#include <memory>
#include <string>

#include "platform/registry/Registry.h"

namespace telvo::registry {

// The sysfs folder read ("/sys" unless a test points it at a fixture tree).
std::string sysfsRoot();
// An empty folder restores "/sys".
void setSysfsRootForTesting(const std::string& folder);

// A fresh registry from the sysfs tree at `sysRoot`; a missing tree gives a registry holding
// only the root and the platform expert.
std::shared_ptr<Registry> buildFromSysfs(const std::string& sysRoot);

}  // namespace telvo::registry
