#pragma once
// The privileged helper's "trash": moves an application into the caller's own Trash
// ("<home>/.Trash", made for the caller with mode 0700 where missing) under a free name, through
// descriptors opened without following links, never replacing what is there. Across file
// systems the caller's copy is made by a child running as the caller, then the original removed.
#include <string>
#include "helper/HelperPolicy.h"

namespace telvo::helper {

// True with the logical target path; false with `why`.
bool trashForUser(const std::string& file, const PeerUser& user, std::string& target, std::string& why);

}  // namespace telvo::helper
