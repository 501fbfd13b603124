#include "daemon/ClientProtocol.h"

#include <functional>
#include <sstream>

#include "platform/values/Format.h"

namespace telvo::protocol {

namespace {

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
}

}  // namespace

bool parseMessage(std::string_view bytes, Message& message) {
    // parse_default: escapes and character references once, DOCTYPE skipped, nothing loaded.
    pugi::xml_parse_result result =
        message.document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) return false;
    message.root = message.document.document_element();
    if (!message.root) return false;
    message.attributes = Value(ValueDictionary{});
    for (pugi::xml_attribute a = message.root.first_attribute(); a; a = a.next_attribute()) {
        if (*a.name()) message.attributes.set(a.name(), Value(std::string(a.value())));
    }
    message.type = message.attributes["type"].intValue();
    return true;
}

std::unique_ptr<pugi::xml_document> documentWithType(int64_t type) {
    auto document = std::make_unique<pugi::xml_document>();
    pugi::xml_node declaration = document->append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = document->append_child("tvx");
    root.append_attribute("type") = format("%li", long(type)).c_str();
    return document;
}

pugi::xml_node rootOf(pugi::xml_document& document) { return document.document_element(); }

std::string serialize(const pugi::xml_document& document) {
    StringWriter writer;
    document.save(writer, "", pugi::format_raw | pugi::format_no_empty_element_tags, pugi::encoding_utf8);
    return writer.out;
}

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

Value statTreeFromRequest(const pugi::xml_node& root, const std::function<void(const std::string&)>& processKeys) {
    Value tree = Value(ValueDictionary{});
    for (pugi::xml_node stat = root.first_child(); stat; stat = stat.next_sibling()) {
        if (stat.type() != pugi::node_element || std::string_view(stat.name()) != "stat") continue;
        pugi::xml_attribute typeAttribute = stat.attribute("type");
        if (!typeAttribute) continue;
        std::string type = typeAttribute.value();
        Value attributes = Value(ValueDictionary{});
        for (const char* key : {"samples", "key", "session"})
            if (pugi::xml_attribute a = stat.attribute(key)) attributes.set(key, Value(std::string(a.value())));
        if (stat.attribute("partial")) attributes.set("partial", Value(true));
        ValueArray items;
        bool hasChildren = false;
        for (pugi::xml_node child = stat.first_child(); child; child = child.next_sibling()) {
            if (child.type() != pugi::node_element) continue;
            hasChildren = true;
            Value item = Value(ValueDictionary{});
            if (pugi::xml_attribute samples = child.attribute("samples"))
                item.set("samples", Value(std::string(samples.value())));
            if (pugi::xml_attribute keys = child.attribute("keys")) {
                item.set("keys", Value(std::string(keys.value())));
                if (type == "processes" && processKeys) processKeys(keys.value());
            }
            items.push_back(std::move(item));
        }
        if (hasChildren) attributes.set("items", Value(std::move(items)));
        tree.set(type, std::move(attributes));
    }
    return tree;
}

void appendStatNode(pugi::xml_node parent, const StatNode& node) {
    pugi::xml_node element = parent.append_child(node.name.c_str());
    for (const auto& [key, value] : node.attributes) element.append_attribute(key.c_str()) = value.c_str();
    for (const auto& child : node.children)
        if (child) appendStatNode(element, *child);
}

}  // namespace telvo::protocol
