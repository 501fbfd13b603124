#pragma once
// A private session bus (dbus-daemon --session) with the recording notification server on it,
// for one test. DBUS_SESSION_BUS_ADDRESS points at it while it lives.
#include <sys/types.h>

#include <string>
#include <vector>

namespace telvo::agent::test {

class SessionBus {
public:
    explicit SessionBus(const std::string& folder);
    ~SessionBus();
    const std::string& failure() const { return failure_; }
    // The notifications shown so far: "<id>\t<app>\t<summary>\t<body>\t<actions>".
    std::vector<std::string> shown() const;
    // Clicks a notification's action.
    bool invoke(unsigned id, const std::string& action) const;

private:
    std::string log_;
    std::string address_;
    std::string failure_;
    pid_t busPid_ = -1;
    pid_t serverPid_ = -1;
};

}  // namespace telvo::agent::test
