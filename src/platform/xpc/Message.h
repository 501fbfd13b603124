#pragma once
// The wire form of the XPC stand-in: each message is a 4-byte big-endian length followed by
// that many bytes of an XML property-list dictionary. Calls are
//   {"type" "call", "op" <name>, "args" {"count" n, "0" a0, "1" a1, ...}, "id" <n when a reply is wanted>}
// (arguments by position, so that a nil argument survives: it is simply absent), replies
//   {"type" "reply", "id" n, "value" v (absent for nil)}
// and refusals {"type" "error", "id" n, "message" text}.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include "platform/values/Value.h"

namespace telvo::xpc {

constexpr size_t kMaxMessageSize = 1 << 20;

std::string encodeMessage(const Value& dictionary);

Value packArguments(const ValueArray& arguments);
// False when the packed form is damaged (count missing, negative or too large).
bool unpackArguments(const Value& packed, ValueArray& out);

// Cuts a byte stream into messages. A message that is no dictionary is dropped and counted;
// a length over kMaxMessageSize puts the decoder in the failed state for good.
class MessageDecoder {
public:
    std::vector<Value> feed(const char* bytes, size_t length);
    bool failed() const { return failed_; }
    size_t droppedMessages() const { return dropped_; }

private:
    std::string buffer_;
    size_t dropped_ = 0;
    bool failed_ = false;
};

}  // namespace telvo::xpc
