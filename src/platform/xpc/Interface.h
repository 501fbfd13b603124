#pragma once
// An exported interface of the XPC stand-in: named operations with typed arguments and an
// optional reply. A call whose arguments do not match the declared types is refused before the
// handler sees it. A reply is delivered exactly once: the first call of the Reply sends it,
// later calls do nothing, and a Reply dropped without a call sends nil. A handler may refuse
// the call instead (Reply::fail): the caller's error handler learns why, also for an
// operation without a reply.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "platform/values/Value.h"

namespace telvo::xpc {

enum class ArgType {
    Any,         // any property-list value, or nil
    String,      // a string, or nil
    Number,      // a number (boolean, integer or double), or nil
    Integer,     // an integer (a boolean counts); never nil
    Array,       // an array, or nil
    Dictionary,  // a dictionary, or nil
    Data,        // bytes, or nil
};

const char* argTypeName(ArgType type);
bool argMatches(ArgType type, const Value& value);

class Reply {
public:
    using Sender = std::function<void(const Value&)>;
    using Failer = std::function<void(const std::string& why)>;
    Reply() = default;  // no reply wanted
    explicit Reply(Sender sender, Failer failer = nullptr);

    bool wanted() const { return state_ != nullptr; }
    // Sends the value the first time; later calls are ignored.
    void operator()(const Value& value) const;
    // Answers nothing, now or later, where an operation sends no reply: the caller's reply
    // handler never runs (its error handler runs when the connection ends).
    void withhold() const;
    // Refuses the call, unless answered already: the caller's error handler runs with `why`;
    // nothing happens for a caller that wants to know nothing.
    void fail(const std::string& why) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

struct Operation {
    using Handler = std::function<void(const ValueArray& arguments, const Reply& reply)>;
    std::string name;
    std::vector<ArgType> arguments;
    bool hasReply = false;
    Handler handler;
};

class Interface {
public:
    explicit Interface(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

    Interface& add(Operation operation);
    const Operation* find(const std::string& name) const;
    std::vector<std::string> operationNames() const;

    // Checks a call against the declaration; answers an empty text when it matches, else why not.
    std::string check(const std::string& name, const ValueArray& arguments, bool replyWanted) const;

private:
    std::string name_;
    std::vector<Operation> operations_;
};

using InterfacePtr = std::shared_ptr<Interface>;

}  // namespace telvo::xpc
