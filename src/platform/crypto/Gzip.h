#pragma once
// Whole-buffer gzip compression and inflation over zlib, as the statistics payloads of
// compressing clients need them.
#include <cstdint>
#include <optional>
#include <vector>

namespace telvo::crypto {

using Bytes = std::vector<uint8_t>;

// A complete gzip member of the whole input (default level, window bits 31, memory level 8,
// default strategy). Empty input answers empty output, without a gzip header. Answers nothing
// when the compressor cannot start or does not finish the stream.
std::optional<Bytes> gzipDeflate(const uint8_t* data, size_t length);
inline std::optional<Bytes> gzipDeflate(const Bytes& data) { return gzipDeflate(data.data(), data.size()); }

// The inflated bytes of a zlib- or gzip-wrapped stream (window bits 47: the header is
// detected). Empty input answers empty output. Answers nothing on a damaged, truncated or
// unfinished stream.
std::optional<Bytes> zlibInflate(const uint8_t* data, size_t length);
inline std::optional<Bytes> zlibInflate(const Bytes& data) { return zlibInflate(data.data(), data.size()); }

}  // namespace telvo::crypto
