#pragma once
// gzip compression and inflation of a whole data object (the compressed statistics payloads).
#include <optional>

#include "platform/values/Value.h"

namespace telvo {

// A gzip stream of the whole data; the data itself when it is empty; nothing when the
// compressor cannot start or does not finish.
std::optional<Bytes> deflate(const Bytes& data);
// The inflated bytes of a zlib or gzip stream; the data itself when it is empty; nothing on a
// damaged, truncated or unfinished stream.
std::optional<Bytes> inflate(const Bytes& data);

}  // namespace telvo
