#pragma once
// Whether a job file or program may be trusted by an instance: it must belong to root or to the
// instance's own user, and nobody else (group or others) may write it. Otherwise anybody who
// can write the file would have a job run as root (or as that user).
#include <sys/types.h>
#include <string>
#include "platform/Error.h"

namespace telvo::launchd {

// `path` is a logical path (resolved under the file-system root); `user` the instance's user
// (0 for the system instance). Answers why not, as an error of domain "launchd", or null.
ErrorPtr checkTrusted(const std::string& path, uid_t user);

}  // namespace telvo::launchd
