#pragma once
// Where the agent looks for updates: the build's settings, which a root-owned
// "/etc/telvo/agent.plist" under the file-system root may override ("UpdateFeed",
// "UpdateCAFile", "ProductPage"; tests and private update servers). A file that a user could
// have written is ignored and logged.
#include <string>

namespace telvo::agent {

struct AgentSettings {
    static constexpr const char* kPath = "/etc/telvo/agent.plist";

    std::string feed;         // "https://<host>/telvoserver3/version.php"
    std::string caFile;       // empty: the system's trust store
    std::string productPage;  // opened when the control application cannot be started
    std::string serviceName;  // "<team>.com.kestro.telvo.server.agent"

    static AgentSettings load();
};

}  // namespace telvo::agent
