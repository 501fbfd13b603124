#pragma once
// Text taken from the machine (device names, serial numbers) made fit for an XML 1.0 document:
// bytes that are not valid UTF-8 and characters XML 1.0 does not allow become U+FFFD.
#include <string>
#include <string_view>

namespace telvo {

// `text` with every invalid UTF-8 sequence and every character outside XML 1.0's Char
// production (controls other than tab, line feed and carriage return; U+FFFE, U+FFFF)
// replaced by U+FFFD. Valid text comes back unchanged.
std::string xmlSafeText(std::string_view text);

}  // namespace telvo
