#pragma once
// The wire form of a command message between the setup plug-in and the privileged helper: the
// command dictionary as an XML property list, encrypted with AES-256 under the shared key.
// The helper decodes strictly: a flat dictionary of string keys whose values are strings,
// numbers or booleans, at most kMaxHelperMessageSize bytes; anything else is refused with a
// reason, and no step runs.
#include <cstddef>
#include <optional>
#include <string>
#include "helper/HelperCommand.h"
#include "platform/values/Value.h"

namespace telvo::helper {

constexpr size_t kMaxHelperMessageSize = 64 * 1024;

// The encrypted message of a command (what the plug-in sends); nothing when it cannot be made.
std::optional<Bytes> encodeHelperMessage(const HelperCommand& command, const char* key = nullptr);

// Decrypts and decodes a message; nothing and `why` (for the log) when it is refused.
std::optional<HelperCommand> decodeHelperMessage(const Bytes& message, std::string& why, const char* key = nullptr);

// The strict structural check of a decrypted message (the property-list text).
std::optional<HelperCommand> parseHelperCommand(const std::string& plaintext, std::string& why);

}  // namespace telvo::helper
