#pragma once
// One element of an XML document: its name, its attributes in the order they were added, its
// child elements and its text. A handle into its XmlDocument, valid while the document lives;
// a default-made handle is the null element, which answers empty to everything.
#include <string>
#include <utility>
#include <vector>

namespace pugi {
struct xml_node_struct;
}

namespace telvo::xml {

class XmlElement {
public:
    XmlElement() = default;
    explicit XmlElement(pugi::xml_node_struct* node) : node_(node) {}

    bool isNull() const { return node_ == nullptr; }
    explicit operator bool() const { return node_ != nullptr; }

    std::string name() const;

    // The attribute's value; "" when absent.
    std::string attribute(const std::string& name) const;
    bool hasAttribute(const std::string& name) const;
    // Every attribute as (name, value), in document order.
    std::vector<std::pair<std::string, std::string>> attributes() const;
    // Replaces the value of an attribute of that name, else appends a new attribute last.
    void setAttribute(const std::string& name, const std::string& value);
    void removeAttribute(const std::string& name);

    // Adds a child element last and answers it.
    XmlElement addChild(const std::string& name);
    // Child elements in document order (text, comments and the like are left out).
    std::vector<XmlElement> children() const;
    // Child elements of that name, in document order.
    std::vector<XmlElement> children(const std::string& name) const;
    // The first child element of that name; the null element when there is none.
    XmlElement child(const std::string& name) const;
    XmlElement parent() const;

    // The concatenated text and CDATA directly inside the element.
    std::string text() const;
    // Replaces the element's text (its child elements stay).
    void setText(const std::string& text);

    // The element serialised on its own, without a declaration and without formatting.
    std::string xmlString() const;

    bool operator==(const XmlElement& other) const { return node_ == other.node_; }

    pugi::xml_node_struct* node() const { return node_; }

private:
    pugi::xml_node_struct* node_ = nullptr;
};

}  // namespace telvo::xml
