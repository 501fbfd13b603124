#pragma once
// The start-TLS marker that stands in both the read and the write queue of a socket; it
// carries its own copy of the TLS settings dictionary.
#include "platform/values/Value.h"

namespace telvo {

struct GCDAsyncSpecialPacket {
    explicit GCDAsyncSpecialPacket(Value settings) : tlsSettings(std::move(settings)) {}
    Value tlsSettings;
};

}  // namespace telvo
