#include "platform/raid/MdStatus.h"

#include <sstream>

namespace telvo::raid {
namespace {

bool hasWord(const std::string& list, const std::string& word) {
    std::stringstream in(list);
    std::string w;
    while (std::getline(in, w, ','))
        if (w == word) return true;
    return false;
}

bool isNumber(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

}  // namespace

std::string setStatus(const std::string& arrayState, const std::string& degraded, const std::string& syncAction) {
    if (arrayState.empty() || arrayState == "inactive" || arrayState == "clear" || arrayState == "suspended")
        return "Offline";
    if (syncAction == "recover" || syncAction == "resync" || syncAction == "reshape") return "Rebuilding";
    if (isNumber(degraded) && degraded != "0") return "Degraded";
    return "Online";
}

std::string memberStatus(const std::string& state, const std::string& slot, const std::string& recoveryStart) {
    if (hasWord(state, "faulty")) return "Failed";
    if (hasWord(state, "in_sync")) return "Online";
    if (isNumber(slot) || isNumber(recoveryStart)) return "Rebuilding";
    return "Spare";
}

}  // namespace telvo::raid
