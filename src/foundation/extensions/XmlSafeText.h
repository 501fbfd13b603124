#pragma once
// Text taken from the machine (process names, device names) made fit for an XML 1.0 attribute
// or element: every byte that starts no valid UTF-8 sequence becomes U+FFFD, and so does every
// character XML 1.0 does not allow (control characters other than tab, line feed and carriage
// return, and U+FFFE, U+FFFF).
#include <string>
#include <string_view>

namespace telvo {

std::string xmlSafeText(std::string_view text);

}  // namespace telvo
