#include "collectors/framework/StatNodeWriter.h"

#include <array>
#include <cstring>

#include "collectors/framework/SampleRun.h"
#include "collectors/framework/XMLNumberFormat.h"

namespace telvo::statnodewriter {

namespace {

// Bytes that cannot stand as they are inside a double-quoted attribute value.
constexpr std::array<bool, 256> kSpecial = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 32; ++c) t[size_t(c)] = true;
    for (unsigned char c : {'&', '<', '"'}) t[c] = true;  // '>' stands as it is
    return t;
}();

size_t estimatedBytes(const std::vector<StatNodePtr>& nodes) {
    size_t bytes = 0;
    for (const auto& node : nodes) {
        if (!node) continue;
        bytes += 128 + (node->samples ? node->samples->estimatedBytes() : 0) + estimatedBytes(node->children);
    }
    return bytes;
}

}  // namespace

void appendName(std::string& out, const std::string& name) {
    std::string_view n(name.c_str(), std::strlen(name.c_str()));
    if (n.empty())
        out += ":anonymous";
    else
        out += n;
}

void appendEscaped(std::string& out, std::string_view value) {
    const char* p = value.data();
    const char* end = p + value.size();
    while (p < end) {
        const char* run = p;
        while (p < end && !kSpecial[static_cast<unsigned char>(*p)]) ++p;
        out.append(run, size_t(p - run));
        if (p == end) break;
        unsigned char c = static_cast<unsigned char>(*p++);
        switch (c) {
            case 0: return;
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '"': out += "&quot;"; break;
            default: {
                const char ref[] = {'&', '#', char('0' + c / 10), char('0' + c % 10), ';'};
                out.append(ref, sizeof ref);
            }
        }
    }
}

void appendNode(std::string& out, const StatNode& node) {
    out += '<';
    appendName(out, node.name);
    for (const auto& [key, value] : node.attributes) {
        out += ' ';
        appendName(out, key);
        out += "=\"";
        appendEscaped(out, value);
        out += '"';
    }
    out += '>';
    for (const auto& child : node.children)
        if (child) appendNode(out, *child);
    if (node.samples) node.samples->appendXML(out);
    out += "</";
    appendName(out, node.name);
    out += '>';
}

std::string document(long type, const std::vector<StatNodePtr>& nodes) {
    std::string out;
    out.reserve(64 + estimatedBytes(nodes));
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"";
    xmlnumber::appendInteger(out, type);
    out += "\">";
    for (const auto& node : nodes)
        if (node) appendNode(out, *node);
    out += "</tvx>";
    return out;
}

}  // namespace telvo::statnodewriter
