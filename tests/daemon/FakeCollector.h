#pragma once
// A collector for the session tests: answers every request with one "stat" element naming its
// type, the protocol it was handed and its request's "samples", and remembers the requests.
#include <string>
#include <vector>
#include "collectors/framework/StatCollector.h"

namespace telvo::testing {

class FakeCollector : public StatCollector {
public:
    explicit FakeCollector(std::string type, bool sessionBased = false) : type_(std::move(type)) {
        if (sessionBased) config().set("xmlSessionBased", Value(true));
        setDatabaseEnabled(false);
    }
    std::string statType() const override { return type_; }
    std::vector<StatNodePtr> xmlNodesFromAttributes(const Value& attributes) override {
        requests.push_back(attributes);
        auto node = StatNode::element("stat");
        node->setAttribute("type", type_);
        node->setAttribute("protocol", attributes["protocol"].stringValue());
        node->setAttribute("samples", attributes["samples"].stringValue());
        return {node};
    }
    std::vector<Value> requests;

private:
    std::string type_;
};

}  // namespace telvo::testing
