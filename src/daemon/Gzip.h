#pragma once
// gzip streams (default level) for the statistics replies, and their inflation.
#include <optional>
#include <string>
#include <string_view>

namespace telvo::gzip {

std::string deflate(std::string_view data);
// Inflates a gzip or zlib stream; none when the bytes are not one.
std::optional<std::string> inflate(std::string_view data);

}  // namespace telvo::gzip
