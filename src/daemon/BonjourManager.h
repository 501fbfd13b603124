#pragma once
// Publishes the running server with DNS-SD: one service at a time, type "_telvoserver._tcp."
// in "local.", named by the server UUID, on the listener's port, with the TXT keys "name",
// "model", "platform", "protocol" and "time".
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include "net/dnssd/NetService.h"

namespace telvo {

class BonjourManager : public dnssd::NetServiceDelegate {
public:
    static BonjourManager& sharedBonjourManager();
    static void resetForTesting();

    // Publishes unless a service is already held (then nothing at all changes).
    void startBonjourWithPort(uint16_t port, const std::string& uuid);
    void stopBonjour();

    // The model identifier, or "" when it cannot be read.
    std::string machineType() const;
    // The first IPv4 address of the primary interface (the one of the default route).
    std::optional<std::string> ipAddress() const;
    // The computer name; none when empty.
    std::optional<std::string> computerName() const;
    // The display name of the TXT record: the computer name, else model label and address.
    static std::string displayName(const std::optional<std::string>& computerName, const std::string& machineType,
                                   const std::optional<std::string>& ipAddress);

    // The service held, or null.
    dnssd::NetService* service() const { return service_.get(); }

    // Seams for tests: the host facts the TXT record is made of.
    struct HostFacts {
        std::function<std::optional<std::string>()> computerName;
        std::function<std::string()> machineType;
        std::function<std::optional<std::string>()> ipAddress;
    };
    void setHostFactsForTesting(HostFacts facts) { facts_ = std::move(facts); }

    void netServiceDidNotPublish(dnssd::NetService& service, const ErrorPtr& error) override;

private:
    BonjourManager() = default;
    std::unique_ptr<dnssd::NetService> service_;
    HostFacts facts_;
    std::mutex mutex_;
};

}  // namespace telvo
