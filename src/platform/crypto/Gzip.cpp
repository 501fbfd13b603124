#include "platform/crypto/Gzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace telvo::crypto {

std::optional<Bytes> gzipDeflate(const uint8_t* data, size_t length) {
    if (length == 0) return Bytes{};
    if (length > UINT_MAX) return std::nullopt;

    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = uInt(length);
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;

    // One call into a buffer of the most the stream can take (deflateBound counts the gzip
    // header and trailer for window bits 31): no growing and copying of the output.
    Bytes out(deflateBound(&stream, uLong(length)));
    stream.next_out = out.data();
    stream.avail_out = uInt(std::min<size_t>(out.size(), UINT_MAX));
    int status = deflate(&stream, Z_FINISH);
    const size_t produced = stream.total_out;
    deflateEnd(&stream);
    // A stream the compressor did not finish would inflate to nothing; say so here rather than
    // hand a client a damaged payload.
    if (status != Z_STREAM_END) return std::nullopt;
    out.resize(produced);
    return out;
}

std::optional<Bytes> zlibInflate(const uint8_t* data, size_t length) {
    if (length == 0) return Bytes{};
    if (length > UINT_MAX) return std::nullopt;

    const size_t half = length / 2;
    Bytes out(length + half);
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = uInt(length);
    if (inflateInit2(&stream, 47) != Z_OK) return std::nullopt;

    int status = Z_OK;
    while (status == Z_OK) {
        if (stream.total_out >= out.size()) {
            // Grow by half the input, but never by less than half of what is already there:
            // tiny steps on a highly compressed stream would copy the buffer over and over.
            out.resize(out.size() + std::max({half, out.size() / 2, size_t(1)}));
        }
        const size_t room = std::min<size_t>(out.size() - stream.total_out, UINT_MAX);
        stream.next_out = out.data() + stream.total_out;
        stream.avail_out = uInt(room);
        status = inflate(&stream, Z_SYNC_FLUSH);
    }
    const size_t produced = stream.total_out;
    if (status != Z_STREAM_END) {
        inflateEnd(&stream);
        return std::nullopt;
    }
    if (inflateEnd(&stream) != Z_OK) return std::nullopt;
    out.resize(produced);
    return out;
}

}  // namespace telvo::crypto
