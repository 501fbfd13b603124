#pragma once
// One RTM_GETLINK dump per call over a socket and a receive buffer that are kept between
// calls (the buffer grows when a message needs more and never shrinks): every interface with
// its type, flags, state, address, kind and 64-bit byte counters. The network collector reads
// it once a second.
#include <cstdint>
#include <vector>
#include "platform/netstate/Rtnetlink.h"

namespace telvo::netstate {

class LinkDumpReader {
public:
    LinkDumpReader() = default;
    ~LinkDumpReader();
    LinkDumpReader(const LinkDumpReader&) = delete;
    LinkDumpReader& operator=(const LinkDumpReader&) = delete;

    // Replaces `out` with the links; false (errno kept, `out` empty) when the dump failed.
    bool read(std::vector<LinkInfo>& out);
    size_t bufferSize() const { return buffer_.size(); }

private:
    bool open();
    void closeSocket();

    int fd_ = -1;
    uint32_t seq_ = 0;
    std::vector<uint8_t> buffer_;
};

}  // namespace telvo::netstate
