#pragma once
// Text made safe to stand in an XML 1.0 document: invalid UTF-8 becomes U+FFFD, and the
// characters XML 1.0 forbids (controls other than tab, line feed and carriage return,
// U+FFFE and U+FFFF) become U+FFFD too. Escaping of markup characters is the writer's job.
#include <string>
#include <string_view>

namespace telvo {

std::string xmlSafeText(std::string_view text);

}  // namespace telvo
