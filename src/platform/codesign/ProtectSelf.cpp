// Making a signed program non-dumpable.
#include "platform/codesign/ProtectSelf.h"

#include <sys/prctl.h>

namespace telvo::codesign {

void protectSelf() { prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }

}  // namespace telvo::codesign
