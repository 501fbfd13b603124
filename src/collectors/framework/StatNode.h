#pragma once
// One element of a collector's answer to a statistics request ("stat", "s", "item", "a"):
// its name, its attributes in the order they were added and its children, then the s
// elements of a collector-level ring kept as a SampleRun (copied slots, written as text only
// when the reply's bytes are made). The client session writes these into the reply
// (StatNodeWriter.h); appendStatNodes in StatNodeXML.h copies them into a document.
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace telvo {

struct StatNode;
class SampleRun;
using StatNodePtr = std::shared_ptr<StatNode>;

struct StatNode {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<StatNodePtr> children;
    std::shared_ptr<const SampleRun> samples;  // s elements after the children; may be null

    explicit StatNode(std::string n = std::string()) : name(std::move(n)) {}
    static StatNodePtr element(std::string n) { return std::make_shared<StatNode>(std::move(n)); }

    // Sets an attribute: replaces the value of an attribute of that name, else appends.
    void setAttribute(const std::string& key, const std::string& value) {
        for (auto& a : attributes)
            if (a.first == key) {
                a.second = value;
                return;
            }
        attributes.emplace_back(key, value);
    }
    // The attribute's value, or null when absent.
    const std::string* attribute(const std::string& key) const {
        for (const auto& a : attributes)
            if (a.first == key) return &a.second;
        return nullptr;
    }
    void addChild(StatNodePtr child) { children.push_back(std::move(child)); }
};

}  // namespace telvo
