// Operations, argument checks and once-only replies.
#include "platform/xpc/Interface.h"

#include <atomic>

namespace telvo::xpc {

const char* argTypeName(ArgType type) {
    switch (type) {
    case ArgType::Any: return "any";
    case ArgType::String: return "string";
    case ArgType::Number: return "number";
    case ArgType::Integer: return "integer";
    case ArgType::Array: return "array";
    case ArgType::Dictionary: return "dictionary";
    case ArgType::Data: return "data";
    }
    return "?";
}

bool argMatches(ArgType type, const Value& v) {
    switch (type) {
    case ArgType::Any: return true;
    case ArgType::String: return v.isNull() || v.isString();
    case ArgType::Number: return v.isNull() || v.isNumber();
    case ArgType::Integer: return v.isInteger() || v.isBoolean();
    case ArgType::Array: return v.isNull() || v.isArray();
    case ArgType::Dictionary: return v.isNull() || v.isDictionary();
    case ArgType::Data: return v.isNull() || v.isData();
    }
    return false;
}

struct Reply::State {
    Sender sender;
    Failer failer;
    std::atomic<bool> sent{false};
    ~State() {
        if (!sent.exchange(true) && sender) sender(Value());
    }
};

Reply::Reply(Sender sender, Failer failer) : state_(std::make_shared<State>()) {
    state_->sender = std::move(sender);
    state_->failer = std::move(failer);
}

void Reply::fail(const std::string& why) const {
    if (!state_ || state_->sent.exchange(true)) return;
    if (state_->failer) state_->failer(why);
}

void Reply::operator()(const Value& value) const {
    if (!state_ || state_->sent.exchange(true)) return;
    if (state_->sender) state_->sender(value);
}

void Reply::withhold() const {
    if (state_) state_->sent = true;
}

Interface& Interface::add(Operation operation) {
    operations_.push_back(std::move(operation));
    return *this;
}

const Operation* Interface::find(const std::string& name) const {
    for (const auto& op : operations_)
        if (op.name == name) return &op;
    return nullptr;
}

std::vector<std::string> Interface::operationNames() const {
    std::vector<std::string> names;
    for (const auto& op : operations_) names.push_back(op.name);
    return names;
}

std::string Interface::check(const std::string& name, const ValueArray& arguments, bool replyWanted) const {
    const Operation* op = find(name);
    if (!op) return "no operation \"" + name + "\" in " + name_;
    if (op->hasReply != replyWanted) return name + (op->hasReply ? " needs a reply" : " takes no reply");
    if (arguments.size() != op->arguments.size())
        return name + " takes " + std::to_string(op->arguments.size()) + " arguments, not " +
               std::to_string(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i)
        if (!argMatches(op->arguments[i], arguments[i]))
            return name + ": argument " + std::to_string(i + 1) + " is no " + argTypeName(op->arguments[i]);
    return {};
}

}  // namespace telvo::xpc
