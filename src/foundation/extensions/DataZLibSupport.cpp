#include "foundation/extensions/DataZLibSupport.h"

#include "platform/crypto/Gzip.h"

namespace telvo {

std::optional<Bytes> deflate(const Bytes& data) { return crypto::gzipDeflate(data); }

std::optional<Bytes> inflate(const Bytes& data) { return crypto::zlibInflate(data); }

}  // namespace telvo
