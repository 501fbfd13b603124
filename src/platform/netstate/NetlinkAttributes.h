#pragma once
// Bounds-checked walks over netlink buffers: the messages of one receive, and the attributes
// (rtattr / nlattr, which share their layout) of a message or of a nested attribute. Nothing
// here casts a payload in place: scalars are copied out with memcpy after their length was
// checked, since attributes are only 4-byte aligned.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

namespace telvo::netstate {

struct NetlinkMessage {
    uint16_t type = 0;
    uint16_t flags = 0;
    uint32_t sequence = 0;
    const uint8_t* payload = nullptr;  // after the 16-byte header
    size_t length = 0;                 // payload bytes
};

struct NetlinkAttribute {
    uint16_t type = 0;  // without the nested and byte-order flags
    const uint8_t* data = nullptr;
    size_t length = 0;

    // Copies a scalar out when the payload has exactly its size (false otherwise).
    template <class T>
    bool read(T& out) const {
        if (length != sizeof(T)) return false;
        std::memcpy(&out, data, sizeof(T));
        return true;
    }
    // The payload as text, up to its first NUL.
    std::string text() const;
};

// Calls `each` for every message of the buffer; false when a header runs past the end or
// claims less than itself (the walk stops there; the messages before it were delivered).
bool forEachNetlinkMessage(const uint8_t* data, size_t length, const std::function<bool(const NetlinkMessage&)>& each);

// Calls `each` for every attribute of the buffer; false when an attribute header or length is
// malformed (the walk stops there). `each` answers false to stop early.
bool forEachNetlinkAttribute(const uint8_t* data, size_t length,
                             const std::function<bool(const NetlinkAttribute&)>& each);

}  // namespace telvo::netstate
