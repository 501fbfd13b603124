#pragma once
// The Disabled overrides of an instance ("launchctl load -w" clears one, "unload -w" sets it):
// a property list {label: {"Disabled": bool}} that wins over the job file's own Disabled key.
#include <optional>
#include <string>
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo::launchd {

class Overrides {
public:
    explicit Overrides(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }
    // The override of a label, if one was written.
    std::optional<bool> disabled(const std::string& label) const;
    // Writes the file at once (mode 0644); answers the error when it cannot.
    ErrorPtr setDisabled(const std::string& label, bool disabled);

private:
    std::string path_;
};

}  // namespace telvo::launchd
