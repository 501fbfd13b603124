#pragma once
// The agent program started as a child on a private root, as the agent tests run it: its home
// and temporary folder inside the root, no session bus, its output in "<root>/agent.log"; ended
// with SIGTERM when the test stops it or drops it.
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace telvo::agent::test {

class AgentProcess {
public:
    // Makes "<root>/home" and "<root>/tmp" when missing and starts `program`; `environment`
    // adds to (or replaces in) the test's own variables.
    AgentProcess(const std::string& program, const std::string& root,
                 const std::vector<std::pair<std::string, std::string>>& environment = {});
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::string log() const;
    // SIGTERM, then waits for it; the wait status, -1 when it was not running.
    int stop();

private:
    std::string log_;
    pid_t pid_ = -1;
};

}  // namespace telvo::agent::test
