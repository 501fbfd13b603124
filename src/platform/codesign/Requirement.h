#pragma once
// Code requirements: the subset of the requirement language the system uses.
//   anchor apple generic               the chain ends at an anchor of the anchor store
//   identifier "id"  (or identifier = "id")
//   certificate <pos>[field.<OID>] [exists]
//   certificate <pos>[subject.<CN|O|OU|C>] = "text"
//   certificate <pos> = H"<sha1 hex>"    the certificate's SHA-1
//   and, or (and binds tighter), ( ), /* comments */
// <pos> is "leaf", "root", "anchor" or a number (0 the leaf, 1 its issuer, -1 the last).
// Strings are quoted or bare words.
#include <memory>
#include <string>
#include <vector>
#include "platform/Error.h"

namespace telvo::codesign {

// What a requirement is evaluated against: a validated signature.
struct RequirementContext {
    std::string identifier;
    std::vector<std::string> chain;  // DER, leaf first
    bool anchored = false;           // the chain ended at an anchor of the store
};

class Requirement {
public:
    // Parses the text; nullptr (and *error, kStatusRequirementInvalid) when it is not valid.
    static std::shared_ptr<Requirement> parse(const std::string& text, ErrorPtr* error = nullptr);
    // The designated requirement of signed code: its identifier and its leaf's SHA-1.
    static std::shared_ptr<Requirement> designated(const std::string& identifier, const std::string& leafDer);

    bool evaluate(const RequirementContext& context) const;
    const std::string& text() const { return text_; }

    struct Node;
    ~Requirement();

private:
    Requirement() = default;
    std::string text_;
    std::unique_ptr<Node> root_;
};

using RequirementPtr = std::shared_ptr<Requirement>;

}  // namespace telvo::codesign
