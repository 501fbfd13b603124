#pragma once
// The in-process notifications of the disk information collector, posted on its own queue:
// after every disk event once its lists are up to date, and after every registry rescan.
namespace telvo::storage {

inline constexpr const char* kDiskChangedNotification = "DISK_CHANGED_NOTIFICATION";
inline constexpr const char* kDiskInfoHardwareInfoChanged = "DISKINFO_HARDWARE_INFO_CHANGED";

}  // namespace telvo::storage
