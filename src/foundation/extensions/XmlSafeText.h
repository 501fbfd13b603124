#pragma once
// Text that XML 1.0 can carry: invalid UTF-8 becomes U+FFFD, and characters XML 1.0 forbids
// (control characters other than tab, line feed and carriage return, U+FFFE, U+FFFF) are
// replaced by U+FFFD too. Escaping the markup characters stays the XML writer's job.
#include <string>
#include <string_view>

namespace telvo {

std::string xmlSafeText(std::string_view text);

}  // namespace telvo
