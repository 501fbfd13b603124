#include "daemon/BonjourManager.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "foundation/ServerLog.h"
#include "platform/process/ProcessIdentity.h"
#include "platform/time/Clock.h"
#include "platform/values/Format.h"

namespace telvo {

namespace {
std::mutex gInstanceMutex;
std::unique_ptr<BonjourManager> gInstance;

// The interface of the default route, from the kernel's routing table.
std::string primaryInterface() {
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line);  // header
    while (std::getline(routes, line)) {
        char name[64] = {0};
        unsigned long destination = 1, mask = 1;
        unsigned flags = 0;
        if (sscanf(line.c_str(), "%63s %lx %*x %x %*d %*d %*d %lx", name, &destination, &flags, &mask) == 4 &&
            destination == 0 && mask == 0 && (flags & 1 /* RTF_UP */))
            return name;
    }
    return {};
}
}  // namespace

BonjourManager& BonjourManager::sharedBonjourManager() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) gInstance.reset(new BonjourManager());
    return *gInstance;
}

void BonjourManager::resetForTesting() {
    std::lock_guard lock(gInstanceMutex);
    gInstance.reset();
}

std::string BonjourManager::machineType() const {
    if (facts_.machineType) return facts_.machineType();
    // "hw.model": the DMI product name, at most 255 bytes.
    std::ifstream in("/sys/class/dmi/id/product_name");
    std::string model;
    if (!in || !std::getline(in, model)) return "";
    if (model.size() > 255) model.resize(255);
    return model;
}

std::optional<std::string> BonjourManager::ipAddress() const {
    if (facts_.ipAddress) return facts_.ipAddress();
    std::string interface = primaryInterface();
    if (interface.empty()) return std::nullopt;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::optional<std::string> result;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || interface != a->ifa_name) continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
        result = text;
        break;
    }
    freeifaddrs(list);
    return result;
}

std::optional<std::string> BonjourManager::computerName() const {
    if (facts_.computerName) return facts_.computerName();
    std::string name = platform::ProcessIdentity::hostName();
    if (name.empty()) return std::nullopt;
    return name;
}

std::string BonjourManager::displayName(const std::optional<std::string>& computerName, const std::string& machineType,
                                        const std::optional<std::string>& ipAddress) {
    if (computerName && !computerName->empty()) return *computerName;
    static const std::pair<const char*, const char*> labels[] = {
        {"MacBookPro", "MacBook Pro"}, {"MacBookAir", "MacBook Air"}, {"MacBook", "MacBook"}, {"MacPro", "Mac Pro"},
        {"Macmini", "Macmini"},        {"iMac", "iMac"},              {"RackMac", "Xserve"},  {"Xserve", "Xserve"}};
    std::string label;
    for (const auto& [prefix, name] : labels) {
        if (machineType.rfind(prefix, 0) == 0) {
            label = name;
            break;
        }
    }
    std::string display;
    if (ipAddress)
        display = label.empty() ? *ipAddress : format("%@ - %@", label, *ipAddress);
    else
        display = label;
    return display.empty() ? "Unknown Mac" : display;
}

void BonjourManager::startBonjourWithPort(uint16_t port, const std::string& uuid) {
    std::lock_guard lock(mutex_);
    if (service_) return;
    std::string name = displayName(computerName(), machineType(), ipAddress());
    ServerLog("starting bonjour on port %i", int(port));
    auto service = std::make_unique<dnssd::NetService>("local.", "_telvoserver._tcp.", uuid, port);
    std::map<std::string, std::string> txt = {{"name", name},
                                              {"model", machineType()},
                                              {"platform", "7"},
                                              {"protocol", format("%i", 3)},
                                              {"time", format("%.0f", platform::Clock::now())}};
    service->setTXTRecordData(dnssd::NetService::dataFromTXTRecordDictionary(txt));
    service->setDelegate(this);
    // Without an Avahi daemon the service cannot even be set up: like a service that could not
    // be created, it is logged and not held, so the next start tries again. A publication the
    // daemon rejects later is logged by the delegate and the service stays held until stopped.
    if (!service->publish()) {
        ServerLog("Unable to start bonjour");
        return;
    }
    service_ = std::move(service);
}

void BonjourManager::stopBonjour() {
    std::unique_ptr<dnssd::NetService> service;
    {
        std::lock_guard lock(mutex_);
        if (!service_) return;
        ServerLog("stopping bonjour");
        service = std::move(service_);
    }
    service->stop();
}

void BonjourManager::netServiceDidNotPublish(dnssd::NetService&, const ErrorPtr& error) {
    ServerLog("Unable to publish bonjour service: %@", error ? error->description() : std::string("unknown error"));
}

}  // namespace telvo
