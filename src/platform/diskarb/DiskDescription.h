#pragma once
// The keys of a disk description, the record the disk-arbitration stand-in gives for every
// disk, partition and mounted network or ZFS volume it knows. A description is a dictionary
// value; keys are absent when the fact is unknown.
namespace telvo::diskarb::key {

inline constexpr const char* kMediaBSDName = "DAMediaBSDName";        // "sda1"; absent for network and ZFS volumes
inline constexpr const char* kMediaWhole = "DAMediaWhole";            // true for a whole disk
inline constexpr const char* kMediaName = "DAMediaName";              // "EFI System Partition", "ATA Disk Media", ...
inline constexpr const char* kMediaKind = "DAMediaKind";              // "IOMedia" or "IOCDMedia"
inline constexpr const char* kMediaBSDMajor = "DAMediaBSDMajor";
inline constexpr const char* kMediaBSDMinor = "DAMediaBSDMinor";
inline constexpr const char* kMediaBSDUnit = "DAMediaBSDUnit";        // the media entry's "BSD Unit"
inline constexpr const char* kMediaPartitionID = "DAMediaPartitionID";  // the media entry's "Partition ID"
inline constexpr const char* kMediaSize = "DAMediaSize";
inline constexpr const char* kMediaEjectable = "DAMediaEjectable";
inline constexpr const char* kMediaContent = "DAMediaContent";        // partition type GUID or "0x.." byte
inline constexpr const char* kWholeDiskBSDName = "DAWholeDiskBSDName";  // the partition's whole disk
inline constexpr const char* kVolumeMountable = "DAVolumeMountable";
inline constexpr const char* kVolumeName = "DAVolumeName";
inline constexpr const char* kVolumePath = "DAVolumePath";            // mount path, as the mount table has it
inline constexpr const char* kVolumeUUID = "DAVolumeUUID";
inline constexpr const char* kVolumeKind = "DAVolumeKind";            // file system type
inline constexpr const char* kVolumeNetwork = "DAVolumeNetwork";
inline constexpr const char* kDeviceProtocol = "DADeviceProtocol";    // "SATA", "USB", "Virtual Interface", ...
inline constexpr const char* kDeviceModel = "DADeviceModel";
inline constexpr const char* kDeviceVendor = "DADeviceVendor";

}  // namespace telvo::diskarb::key
