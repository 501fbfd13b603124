#pragma once
// Stand-in routers for the port mapper's tests: a UPnP gateway with a table of entries and a
// NAT-PMP gateway that grants what it is told to, both recording every request.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>
#include "net/portmap/TCMNATPMPPortMapper.h"
#include "net/portmap/TCMUPNPPortMapper.h"

namespace telvo::testing {

inline Value routerEntry(const std::string& ip, int localPort, int publicPort, const std::string& protocol,
                         const std::string& description) {
    Value e;
    e.set("ipAddress", ip);
    e.set("localPort", Value(localPort));
    e.set("publicPort", Value(publicPort));
    e.set("protocol", protocol);
    e.set("description", description);
    return e;
}

class FakeUPnP : public TCMUPNPPortMapper {
public:
    void refresh(const std::string& router) override {
        std::lock_guard<std::mutex> lock(mutex);
        ++refreshes;
        lastRouter = router;
        if (answers) supported_ = true;
    }
    bool addPortMapping(TCMPortMapping& m, const std::string& local) override {
        waitWhileBlocked();
        std::lock_guard<std::mutex> lock(mutex);
        adds.push_back(std::to_string(m.desiredExternalPort()) + "->" + local + ":" + std::to_string(m.localPort()) +
                       " " + m.portDescription());
        if (!accept) return false;
        entries.push_back(routerEntry(local, m.localPort(), m.desiredExternalPort(), "TCP", m.portDescription()));
        m.setExternalPort(m.desiredExternalPort());
        return true;
    }
    bool removePortMapping(int port, const std::string& protocol) override {
        std::lock_guard<std::mutex> lock(mutex);
        removes.push_back(std::to_string(port) + "/" + protocol);
        for (auto it = entries.begin(); it != entries.end(); ++it)
            if ((*it)["publicPort"].intValue() == port && (*it)["protocol"].stringValue() == protocol) {
                entries.erase(it);
                return true;
            }
        return false;
    }
    std::vector<Value> allPortMappings() override {
        waitWhileBlocked();
        std::lock_guard<std::mutex> lock(mutex);
        ++listings;
        return entries;
    }
    // A router that does not answer: every request waits until release().
    void block() {
        std::lock_guard<std::mutex> lock(mutex);
        blocked = true;
    }
    void release() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            blocked = false;
        }
        cv.notify_all();
    }
    void waitWhileBlocked() {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [this] { return !blocked; });
    }

    std::mutex mutex;
    std::condition_variable cv;
    bool blocked = false;
    bool answers = true;  // discovery finds a gateway
    bool accept = true;   // adds succeed
    int refreshes = 0, listings = 0;
    std::string lastRouter;
    std::vector<Value> entries;
    std::vector<std::string> adds, removes;
};

class FakeNatPmp : public TCMNATPMPPortMapper {
public:
    struct Request {
        int local, publicPort;
        uint32_t lifetime;
    };
    std::vector<Request> requests() {
        std::lock_guard<std::mutex> lock(mutex);
        return requests_;
    }
    std::atomic<int> result{0};
    std::atomic<uint32_t> grantedLifetime{3600};
    std::atomic<int> grantedPort{0};  // 0: the port asked for

protected:
    Answer request(int local, int publicPort, uint32_t lifetime) override {
        std::lock_guard<std::mutex> lock(mutex);
        requests_.push_back({local, publicPort, lifetime});
        Answer a;
        a.result = result;
        a.publicPort = grantedPort ? grantedPort.load() : publicPort;
        a.lifetime = lifetime ? grantedLifetime.load() : 0;
        return a;
    }

private:
    std::mutex mutex;
    std::vector<Request> requests_;
};

}  // namespace telvo::testing
