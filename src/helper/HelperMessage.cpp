#include "helper/HelperMessage.h"

#include <string_view>

#include "foundation/extensions/DataAES256.h"
#include "helper/HelperCommandKey.h"
#include "platform/values/PropertyList.h"

namespace telvo::helper {

namespace {

const char* keyOr(const char* key) { return key ? key : kHelperCommandKey; }

const char* typeName(const Value& v) {
    switch (v.type()) {
        case Value::Type::Null: return "null";
        case Value::Type::Boolean: return "boolean";
        case Value::Type::Integer: return "integer";
        case Value::Type::Double: return "real";
        case Value::Type::String: return "string";
        case Value::Type::Data: return "data";
        case Value::Type::Date: return "date";
        case Value::Type::Array: return "array";
        case Value::Type::Dictionary: return "dictionary";
    }
    return "value";
}

}  // namespace

std::optional<Bytes> encodeHelperMessage(const HelperCommand& command, const char* key) {
    const std::string text = plist::serialize(command.dictionary());
    return AES256EncryptWithKey(Bytes(text.begin(), text.end()), keyOr(key));
}

std::optional<HelperCommand> parseHelperCommand(const std::string& plaintext, std::string& why) {
    if (plaintext.size() > kMaxHelperMessageSize) {
        why = "the message is larger than " + std::to_string(kMaxHelperMessageSize) + " bytes";
        return std::nullopt;
    }
    // A flat dictionary has one level of elements: refuse deeper nesting before parsing, so no
    // message makes the parser recurse far.
    const std::string_view text(plaintext);
    auto tagAt = [&](size_t at, std::string_view tag) { return text.substr(at, tag.size()) == tag; };
    int depth = 0;
    // The next '>' is looked for only past the last one found, so the scan stays linear.
    size_t end = 0;
    for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        const bool opening = tagAt(at + 1, "dict") || tagAt(at + 1, "array");
        const bool closing = tagAt(at + 1, "/dict") || tagAt(at + 1, "/array");
        if (!opening && !closing) continue;
        if (end != std::string_view::npos && end <= at) end = text.find('>', at);
        const bool selfClosing = end != std::string_view::npos && text[end - 1] == '/';
        if (opening && !selfClosing) {
            if (++depth > 1) {
                why = "the message is not a flat dictionary";
                return std::nullopt;
            }
        } else if (closing) {
            --depth;
        }
    }
    ErrorPtr error;
    Value parsed = plist::parse(plaintext, &error);
    if (error || !parsed.isDictionary()) {
        why = error ? "the message is no property list (" + error->description() + ")" : "the message is no dictionary";
        return std::nullopt;
    }
    for (const auto& [key, value] : parsed.dictionary()) {
        if (!value.isString() && !value.isNumber()) {
            why = std::string("the value of \"") + key + "\" is a " + typeName(value) + ", not a string, number or boolean";
            return std::nullopt;
        }
    }
    if (!parsed["command"].isString()) {
        why = "the message has no \"command\" string";
        return std::nullopt;
    }
    return HelperCommand(parsed);
}

std::optional<HelperCommand> decodeHelperMessage(const Bytes& message, std::string& why, const char* key) {
    // The ciphertext is at most one block of padding longer than the plain text.
    if (message.size() > kMaxHelperMessageSize + 16) {
        why = "the message is larger than " + std::to_string(kMaxHelperMessageSize) + " bytes";
        return std::nullopt;
    }
    std::optional<Bytes> plain = AES256DecryptWithKey(message, keyOr(key));
    if (!plain) {
        why = "the message could not be decrypted";
        return std::nullopt;
    }
    return parseHelperCommand(std::string(plain->begin(), plain->end()), why);
}

}  // namespace telvo::helper
