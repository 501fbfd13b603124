#pragma once
// RaidStatCollectorMember: one member disk of a RAID set (its UUID, BSD name and status word),
// and the same shape for a CoreStorage physical volume.
#include <string>

namespace telvo {

struct RaidStatCollectorMember {
    std::string key, bsd, status;
    bool exists = false;
    std::string description() const { return "key = " + key + ", bsd = " + bsd + ", status = " + status; }
};

}  // namespace telvo
