#pragma once
// A network state that tests write by hand: keys are set and removed, and commit() reports the
// keys changed since the last commit, in the order they were first changed.
#include <mutex>
#include "platform/netstate/NetworkStateSource.h"

namespace telvo::netstate {

class FixtureSource : public NetworkStateSource {
public:
    ValueDictionary snapshot() override;
    void setChangeListener(ChangeListener listener) override;

    void setValue(const std::string& key, const Value& value);
    void removeValue(const std::string& key);
    // Tells the listener (on the calling thread) of the keys changed since the last commit.
    void commit();

    // A typical home network: router `router`, primary interface `interfaceName` with the
    // given addresses and masks.
    void setNetwork(const std::string& router, const std::string& interfaceName,
                    const std::vector<std::string>& addresses, const std::vector<std::string>& masks);

private:
    void touched(const std::string& key);

    std::mutex mutex_;
    ValueDictionary values_;
    std::vector<std::string> pending_;
    ChangeListener listener_;
};

}  // namespace telvo::netstate
