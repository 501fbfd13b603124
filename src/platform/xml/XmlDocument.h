#pragma once
// An XML document as the protocol builds and reads its messages: declaration version "1.0"
// with encoding "UTF-8", one root element, attributes in insertion order. Serialisation writes
// no formatting and never the self-closing form (an empty element is "<a></a>"). Parsing takes
// exactly a byte range; it decodes the five predefined entities and character references,
// leaves every other entity reference as the literal text, skips a DOCTYPE without reading it
// and never loads anything external.
#include <cstddef>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/xml/XmlElement.h"

namespace pugi {
class xml_document;
}

namespace telvo::xml {

class XmlDocument {
public:
    // An empty document (declaration only, no root).
    XmlDocument();
    // A document whose root element has the given name.
    explicit XmlDocument(const std::string& rootName);
    ~XmlDocument();
    XmlDocument(XmlDocument&&) noexcept;
    XmlDocument& operator=(XmlDocument&&) noexcept;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Parses the bytes [data, data + length). On failure answers nullptr and sets *error
    // (domain "XmlDocument", code 1, the parser's message and byte offset).
    static std::unique_ptr<XmlDocument> parse(const char* data, size_t length, ErrorPtr* error = nullptr);
    static std::unique_ptr<XmlDocument> parse(const std::string& text, ErrorPtr* error = nullptr) {
        return parse(text.data(), text.size(), error);
    }

    // The root element; the null element when there is none.
    XmlElement root() const;
    // Replaces the root by a new, empty element of that name and answers it.
    XmlElement setRoot(const std::string& name);

    // `<?xml version="1.0" encoding="UTF-8"?>` followed by the root, UTF-8, no line breaks.
    std::string xmlString() const;

private:
    std::unique_ptr<pugi::xml_document> doc_;
};

}  // namespace telvo::xml
