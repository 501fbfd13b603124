#pragma once
// The status words of software-RAID sets and their members, mapped in this one place from what
// the md driver reports in sysfs. Sets: "Online", "Degraded", "Rebuilding", "Offline"; members:
// "Online", "Failed", "Spare", "Rebuilding".
#include <string>

namespace telvo::raid {

// `arrayState` (md/array_state), `degraded` (md/degraded, empty when unknown) and
// `syncAction` (md/sync_action); an empty array state is a set that is gone.
std::string setStatus(const std::string& arrayState, const std::string& degraded, const std::string& syncAction);
// `state` (dev-*/state, comma-separated words), `slot` and `recoveryStart` (a number or
// "none"): a spare that holds a slot or has a recovery position is being rebuilt.
std::string memberStatus(const std::string& state, const std::string& slot, const std::string& recoveryStart);

}  // namespace telvo::raid
