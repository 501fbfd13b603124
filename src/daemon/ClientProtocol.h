#pragma once
// The messages between the daemon and its remote clients: one XML document per message, root
// "tvx" with a decimal "type", each client message ending with the closing tag "</tvx>".
// Parsing of client messages, building of the daemon's answers, the stat request's
// attributes per collector, the reply header and the stat elements of a reply.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include "collectors/framework/StatNode.h"
#include "platform/values/Value.h"
#include "platform/xml/XmlDocument.h"

namespace telvo::protocol {

inline constexpr std::string_view kTerminator = "</tvx>";
inline constexpr int kProtocolVersion = 3;

enum MessageType : int64_t {
    kHelloMessage = 100,          // client hello; also the daemon's hello answer and server details
    kClientDetailsMessage = 101,  // client details
    kPasscodeMessage = 102,       // client passcode; daemon: passcode rejected
    kStatRequestMessage = 103,    // client stat request; daemon: passcode accepted
    kStatReplyMessage = 104,      // daemon: stat reply payload
    kReplyHeaderMessage = 105,    // daemon: reply header
};

// One parsed client message.
struct Message {
    std::unique_ptr<xml::XmlDocument> document;
    xml::XmlElement root;
    Value attributes;  // the root's attributes, name to text
    int64_t type = 0;  // integer value of "type"; 0 when missing or not numeric
};

// Parses exactly these bytes. Nothing outside the bytes is loaded and no entity beyond the
// five predefined ones and character references is expanded. False when they do not parse.
bool parseMessage(std::string_view bytes, Message& message);

// A new answer document: declaration version "1.0", encoding "UTF-8", root "tvx" with "type".
std::unique_ptr<xml::XmlDocument> documentWithType(int64_t type);
// The document as UTF-8 bytes, with no line breaks and no self-closed elements.
std::string serialize(const xml::XmlDocument& document);

// The reply header (type 105) for a payload of `length` bytes.
std::string replyHeader(size_t length, bool compressed);

// The five entities replaced once more, in the order "&amp;", "&lt;", "&gt;", "&apos;",
// "&quot;"; empty for empty text.
std::string decodeEntities(const std::string& text);

// The request attributes of a stat request (type 103), one dictionary per stat type:
// "samples", "key", "session" (texts, when present), "partial" (true, when present), "items"
// (when the stat element has element children: {"samples", "keys"} each). A later stat of the
// same type replaces an earlier one. `processKeys` receives each child's "keys" of a
// "processes" stat, in document order.
Value statTreeFromRequest(const xml::XmlElement& root, const std::function<void(const std::string&)>& processKeys);

// Appends a collector's node, with its attributes and children, under `parent`.
void appendStatNode(xml::XmlElement parent, const StatNode& node);

}  // namespace telvo::protocol
