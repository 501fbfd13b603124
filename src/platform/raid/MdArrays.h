#pragma once
// The Linux software-RAID (md) sets as sysfs shows them: for each /sys/block/md*/md its
// level, state words, UUID and members (md/dev-*: state, slot, recovery position and the
// member's block device). Read afresh on every call; a set stopped meanwhile is simply absent.
#include <string>
#include <vector>

namespace telvo::raid {

struct MdMember {
    std::string name;  // "dev-sda1"
    std::string bsd;   // the member's block device ("sda1"), from the "block" link
    std::string state, slot, recoveryStart;
    std::string status;  // memberStatus()
};

struct MdArray {
    std::string bsd;  // "md0"
    std::string dev;  // "9:0"
    std::string level, arrayState, degraded, syncAction, raidDisks, uuid;
    std::string status;  // setStatus()
    std::vector<MdMember> members;  // in slot order, spares last
};

// The sets under `sysRoot` ("/sys" or a fixture tree), in name order.
std::vector<MdArray> readMdArrays(const std::string& sysRoot);
// The present status word of a set ("Offline" once it is gone) and of one of its members
// (empty once it has left the set).
std::string setStatusNow(const std::string& sysRoot, const std::string& bsd);
std::string memberStatusNow(const std::string& sysRoot, const std::string& bsd, const std::string& memberName);
// One set's present state; false when it is gone.
bool readMdArray(const std::string& sysRoot, const std::string& bsd, MdArray& array);

}  // namespace telvo::raid
