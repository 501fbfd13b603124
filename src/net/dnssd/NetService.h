#pragma once
// One DNS-SD service published on the local network through the Avahi daemon (over the system
// D-Bus): domain, type, instance name, port and TXT record. Publication runs on Avahi's own
// thread; its outcome reaches the delegate there. Without an Avahi daemon, publish() fails at
// once and the delegate hears didNotPublish with the error.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include "platform/Error.h"

struct AvahiThreadedPoll;
struct AvahiClient;
struct AvahiEntryGroup;

namespace telvo::dnssd {

class NetService;

class NetServiceDelegate {
public:
    virtual ~NetServiceDelegate() = default;
    virtual void netServiceWillPublish(NetService&) {}
    virtual void netServiceDidPublish(NetService&) {}
    virtual void netServiceDidNotPublish(NetService&, const ErrorPtr&) {}
    virtual void netServiceDidStop(NetService&) {}
};

class NetService {
public:
    // type as "_name._tcp." (the trailing dot is optional); domain "local." or "" for the
    // default domain.
    NetService(std::string domain, std::string type, std::string name, uint16_t port);
    ~NetService();
    NetService(const NetService&) = delete;
    NetService& operator=(const NetService&) = delete;

    // The standard DNS-SD TXT encoding: one length byte and "key=value" per entry (entries
    // longer than 255 bytes are cut to 255), keys in sorted order.
    static std::string dataFromTXTRecordDictionary(const std::map<std::string, std::string>& txt);
    static std::map<std::string, std::string> dictionaryFromTXTRecordData(const std::string& data);

    bool setTXTRecordData(const std::string& data);
    const std::string& TXTRecordData() const { return txt_; }

    // Not owned; callbacks run on Avahi's thread.
    void setDelegate(NetServiceDelegate* delegate) { delegate_ = delegate; }

    // Starts publication; answers false (and tells the delegate) when no Avahi daemon answers.
    bool publish();
    // Withdraws the service; the delegate hears didStop.
    void stop();
    bool isPublished() const;

    const std::string& domain() const { return domain_; }
    const std::string& type() const { return type_; }
    const std::string& name() const { return name_; }
    uint16_t port() const { return port_; }

private:
    static void clientCallback(AvahiClient* client, int state, void* userdata);
    static void groupCallback(AvahiEntryGroup* group, int state, void* userdata);
    void addServiceLocked(AvahiClient* client);
    void failLocked(int avahiError);
    void shutdown();

    std::string domain_, type_, name_;
    uint16_t port_;
    std::string txt_;
    NetServiceDelegate* delegate_ = nullptr;
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    AvahiEntryGroup* group_ = nullptr;
    bool published_ = false;
    mutable std::mutex mutex_;
};

}  // namespace telvo::dnssd
