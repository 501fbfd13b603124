#include "daemon/ClientProtocol.h"

#include <functional>
#include <sstream>

#include "collectors/framework/StatNodeXML.h"
#include "platform/values/Format.h"

namespace telvo::protocol {

namespace {

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    if (from.empty() || s.find(from) == std::string::npos) return;
    std::string out;
    out.reserve(s.size());
    size_t start = 0;
    for (size_t pos; (pos = s.find(from, start)) != std::string::npos; start = pos + from.size()) {
        out.append(s, start, pos - start);
        out.append(to);
    }
    out.append(s, start, std::string::npos);
    s = std::move(out);
}

}  // namespace

bool parseMessage(std::string_view bytes, Message& message) {
    message.document = xml::XmlDocument::parse(bytes.data(), bytes.size());
    if (!message.document) return false;
    message.root = message.document->root();
    if (!message.root) return false;
    message.attributes = Value(ValueDictionary{});
    for (const auto& [name, value] : message.root.attributes())
        if (!name.empty()) message.attributes.set(name, Value(value));
    message.type = message.attributes["type"].intValue();
    return true;
}

std::unique_ptr<xml::XmlDocument> documentWithType(int64_t type) {
    auto document = std::make_unique<xml::XmlDocument>("tvx");
    document->root().setAttribute("type", format("%li", long(type)));
    return document;
}

std::string serialize(const xml::XmlDocument& document) { return document.xmlString(); }

std::string replyHeader(size_t length, bool compressed) {
    std::string header = format("<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"105\" length=\"%li\"", long(length));
    if (compressed) header += " c=\"1\"";
    header += "></tvx>";
    return header;
}

std::string decodeEntities(const std::string& text) {
    if (text.empty()) return text;
    std::string s = text;
    replaceAll(s, "&amp;", "&");
    replaceAll(s, "&lt;", "<");
    replaceAll(s, "&gt;", ">");
    replaceAll(s, "&apos;", "'");
    replaceAll(s, "&quot;", "\"");
    return s;
}

Value statTreeFromRequest(const xml::XmlElement& root, const std::function<void(const std::string&)>& processKeys) {
    Value tree = Value(ValueDictionary{});
    for (const xml::XmlElement& stat : root.children("stat")) {
        if (!stat.hasAttribute("type")) continue;
        std::string type = stat.attribute("type");
        Value attributes = Value(ValueDictionary{});
        for (const char* key : {"samples", "key", "session"})
            if (stat.hasAttribute(key)) attributes.set(key, Value(stat.attribute(key)));
        if (stat.hasAttribute("partial")) attributes.set("partial", Value(true));
        std::vector<xml::XmlElement> children = stat.children();
        if (!children.empty()) {
            ValueArray items;
            for (const xml::XmlElement& child : children) {
                Value item = Value(ValueDictionary{});
                if (child.hasAttribute("samples")) item.set("samples", Value(child.attribute("samples")));
                if (child.hasAttribute("keys")) {
                    std::string keys = child.attribute("keys");
                    item.set("keys", Value(keys));
                    if (type == "processes" && processKeys) processKeys(keys);
                }
                items.push_back(std::move(item));
            }
            attributes.set("items", Value(std::move(items)));
        }
        tree.set(type, std::move(attributes));
    }
    return tree;
}

void appendStatNode(xml::XmlElement parent, const StatNode& node) {
    telvo::appendStatNode(node, parent);
}

}  // namespace telvo::protocol
