#pragma once
// One root-side installation step: a dictionary with string keys whose "command" names the
// step, with the keys of that step ("file", "dest", "chown", "chmod", "time", "log", "system")
// and the presence-only keys "reply", "cleanup" and "launchd".
#include <string>
#include "platform/values/Value.h"

namespace telvo::helper {

class HelperCommand {
public:
    HelperCommand() : dictionary_(ValueDictionary{}) {}
    explicit HelperCommand(Value dictionary) : dictionary_(std::move(dictionary)) {}

    // {"command": name} plus the given string keys.
    static HelperCommand make(const std::string& command, const ValueDictionary& keys = {});

    const Value& dictionary() const { return dictionary_; }
    // A key counts as present whatever its value (a number NO included).
    bool has(const std::string& key) const { return dictionary_.isDictionary() && dictionary_.has(key); }
    // The text of a string value; empty for any other value.
    std::string text(const std::string& key) const;
    std::string command() const { return text("command"); }
    void set(const std::string& key, Value value) { dictionary_.set(key, std::move(value)); }

private:
    Value dictionary_;
};

}  // namespace telvo::helper
