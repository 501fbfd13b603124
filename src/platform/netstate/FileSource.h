#pragma once
// A network state read from a property-list file (a dictionary of keys to values), for
// programs started by tests: when TELVO_NETSTATE_FILE names a file (a host path), the store
// reads it instead of rtnetlink, so a daemon under test sees the network the test describes and
// never the machine's own. The file is read on every snapshot; it reports no changes.
#include <string>
#include "platform/netstate/NetworkStateSource.h"

namespace telvo::netstate {

class FileSource : public NetworkStateSource {
public:
    static constexpr const char* kEnvironmentVariable = "TELVO_NETSTATE_FILE";

    explicit FileSource(std::string hostPath) : path_(std::move(hostPath)) {}
    ValueDictionary snapshot() override;
    void setChangeListener(ChangeListener) override {}

private:
    std::string path_;
};

}  // namespace telvo::netstate
