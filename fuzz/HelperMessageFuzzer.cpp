// The privileged helper's decoding of command messages: the bytes both as a decrypted message
// and, encrypted under the shared key, as a whole message. Whatever is accepted is a flat
// dictionary of strings, numbers and booleans with a "command" string.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include "helper/HelperMessage.h"
#include "foundation/extensions/DataAES256.h"
#include "helper/HelperCommandKey.h"

using namespace telvo;

namespace {

void checkAccepted(const std::optional<helper::HelperCommand>& command) {
    if (!command) return;
    const Value& d = command->dictionary();
    if (!d.isDictionary() || !d["command"].isString()) std::abort();
    for (const auto& [key, value] : d.dictionary())
        if (!value.isString() && !value.isNumber()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    checkAccepted(helper::parseHelperCommand(text, why));
    std::optional<Bytes> encrypted = AES256EncryptWithKey(Bytes(data, data + size), helper::kHelperCommandKey);
    if (encrypted) checkAccepted(helper::decodeHelperMessage(*encrypted, why));
    // Random bytes as ciphertext: almost always refused at decryption, never read past.
    checkAccepted(helper::decodeHelperMessage(Bytes(data, data + size), why));
    return 0;
}
