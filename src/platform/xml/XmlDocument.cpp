// XML documents and elements over pugixml.
#include "platform/xml/XmlDocument.h"

#include <pugixml.hpp>
#include <sstream>

namespace telvo::xml {

namespace {

// Flags that keep the parser to the document's own bytes: no DOCTYPE node, no custom entities
// (pugixml has no entity declarations at all), predefined entities and character references
// decoded, line ends normalised.
constexpr unsigned kParseFlags = pugi::parse_default;
constexpr unsigned kSaveFlags = pugi::format_raw | pugi::format_no_empty_element_tags;

pugi::xml_node nodeOf(pugi::xml_node_struct* n) { return pugi::xml_node(n); }

void addDeclaration(pugi::xml_document& doc) {
    pugi::xml_node decl = doc.prepend_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
}

}  // namespace

std::string XmlElement::name() const { return node_ ? nodeOf(node_).name() : std::string(); }

std::string XmlElement::attribute(const std::string& name) const {
    if (!node_) return std::string();
    return nodeOf(node_).attribute(name.c_str()).value();
}

bool XmlElement::hasAttribute(const std::string& name) const {
    return node_ && nodeOf(node_).attribute(name.c_str());
}

std::vector<std::pair<std::string, std::string>> XmlElement::attributes() const {
    std::vector<std::pair<std::string, std::string>> out;
    if (!node_) return out;
    for (pugi::xml_attribute a : nodeOf(node_).attributes()) out.emplace_back(a.name(), a.value());
    return out;
}

void XmlElement::setAttribute(const std::string& name, const std::string& value) {
    if (!node_) return;
    pugi::xml_node n = nodeOf(node_);
    pugi::xml_attribute a = n.attribute(name.c_str());
    if (!a) a = n.append_attribute(name.c_str());
    a.set_value(value.c_str());
}

void XmlElement::removeAttribute(const std::string& name) {
    if (node_) nodeOf(node_).remove_attribute(name.c_str());
}

XmlElement XmlElement::addChild(const std::string& name) {
    if (!node_) return XmlElement();
    return XmlElement(nodeOf(node_).append_child(name.c_str()).internal_object());
}

std::vector<XmlElement> XmlElement::children() const {
    std::vector<XmlElement> out;
    if (!node_) return out;
    for (pugi::xml_node c : nodeOf(node_).children())
        if (c.type() == pugi::node_element) out.emplace_back(c.internal_object());
    return out;
}

std::vector<XmlElement> XmlElement::children(const std::string& name) const {
    std::vector<XmlElement> out;
    if (!node_) return out;
    for (pugi::xml_node c : nodeOf(node_).children(name.c_str()))
        if (c.type() == pugi::node_element) out.emplace_back(c.internal_object());
    return out;
}

XmlElement XmlElement::child(const std::string& name) const {
    if (!node_) return XmlElement();
    pugi::xml_node c = nodeOf(node_).child(name.c_str());
    return c ? XmlElement(c.internal_object()) : XmlElement();
}

XmlElement XmlElement::parent() const {
    if (!node_) return XmlElement();
    pugi::xml_node p = nodeOf(node_).parent();
    return p && p.type() == pugi::node_element ? XmlElement(p.internal_object()) : XmlElement();
}

std::string XmlElement::text() const {
    std::string out;
    if (!node_) return out;
    for (pugi::xml_node c : nodeOf(node_).children())
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) out += c.value();
    return out;
}

void XmlElement::setText(const std::string& text) {
    if (!node_) return;
    pugi::xml_node n = nodeOf(node_);
    for (pugi::xml_node c = n.first_child(); c;) {
        pugi::xml_node next = c.next_sibling();
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) n.remove_child(c);
        c = next;
    }
    if (!text.empty()) n.prepend_child(pugi::node_pcdata).set_value(text.c_str());
}

std::string XmlElement::xmlString() const {
    if (!node_) return std::string();
    std::ostringstream out;
    nodeOf(node_).print(out, "", kSaveFlags, pugi::encoding_utf8);
    return out.str();
}

XmlDocument::XmlDocument() : doc_(std::make_unique<pugi::xml_document>()) { addDeclaration(*doc_); }

XmlDocument::XmlDocument(const std::string& rootName) : XmlDocument() { setRoot(rootName); }

XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;

std::unique_ptr<XmlDocument> XmlDocument::parse(const char* data, size_t length, ErrorPtr* error) {
    if (!data) {
        if (error) *error = makeError("XmlDocument", 1, "No data");
        return nullptr;
    }
    auto doc = std::unique_ptr<XmlDocument>(new XmlDocument());
    doc->doc_->reset();
    pugi::xml_parse_result result = doc->doc_->load_buffer(data, length, kParseFlags, pugi::encoding_utf8);
    if (!result) {
        if (error)
            *error = makeError("XmlDocument", 1,
                               std::string(result.description()) + " at offset " + std::to_string(result.offset));
        return nullptr;
    }
    pugi::xml_node root = doc->doc_->document_element();
    if (!root) {
        if (error) *error = makeError("XmlDocument", 1, "No root element");
        return nullptr;
    }
    for (pugi::xml_node c = root.next_sibling(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) {
            if (error) *error = makeError("XmlDocument", 1, "More than one root element");
            return nullptr;
        }
    }
    // The parsed declaration (if any) is replaced by ours, so output is always "1.0"/"UTF-8".
    for (pugi::xml_node c = doc->doc_->first_child(); c;) {
        pugi::xml_node next = c.next_sibling();
        if (c.type() == pugi::node_declaration) doc->doc_->remove_child(c);
        c = next;
    }
    addDeclaration(*doc->doc_);
    return doc;
}

XmlElement XmlDocument::root() const {
    pugi::xml_node r = doc_->document_element();
    return r ? XmlElement(r.internal_object()) : XmlElement();
}

XmlElement XmlDocument::setRoot(const std::string& name) {
    if (pugi::xml_node old = doc_->document_element()) doc_->remove_child(old);
    return XmlElement(doc_->append_child(name.c_str()).internal_object());
}

std::string XmlDocument::xmlString() const {
    std::ostringstream out;
    for (pugi::xml_node c : doc_->children()) {
        if (c.type() == pugi::node_declaration || c.type() == pugi::node_element)
            c.print(out, "", kSaveFlags, pugi::encoding_utf8);
    }
    return out.str();
}

}  // namespace telvo::xml
