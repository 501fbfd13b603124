#pragma once
// The description of a failed system call's error number, as the log reports show it.
#include <cstring>
#include <string>
#include "platform/Error.h"

namespace telvo {

inline std::string posixErrorDescription(int error) {
    return Error("NSPOSIXErrorDomain", error, std::strerror(error)).description();
}

}  // namespace telvo
