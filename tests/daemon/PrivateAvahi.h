#pragma once
// A private D-Bus system bus and an avahi-daemon restricted to the loopback interface, for the
// tests of DNS-SD publication: nothing is multicast beyond this machine. The process's
// DBUS_SYSTEM_BUS_ADDRESS points at the private bus while it runs.
#include <string>
#include <sys/types.h>

namespace telvo::testing {

class PrivateAvahi {
public:
    ~PrivateAvahi() { stop(); }
    // Answers false with the reason when either daemon cannot be started.
    bool start(std::string* error);
    void stop();
    const std::string& busAddress() const { return busAddress_; }
    // Runs a shell command with the private bus in its environment; answers its output.
    std::string run(const std::string& command, int* status = nullptr) const;

private:
    std::string folder_;
    std::string busAddress_;
    std::string previousAddress_;
    bool hadPrevious_ = false;
    pid_t bus_ = -1;
    pid_t avahi_ = -1;
};

}  // namespace telvo::testing
