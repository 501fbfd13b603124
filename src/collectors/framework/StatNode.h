#pragma once
// One element of a collector's answer to a statistics request ("stat", "s", "item", "a"):
// its name, its attributes in the order they were added and its children. The client
// session copies these into the reply document (appendStatNodes in StatNodeXML.h).
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace telvo {

struct StatNode;
using StatNodePtr = std::shared_ptr<StatNode>;

struct StatNode {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<StatNodePtr> children;

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
