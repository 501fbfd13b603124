#pragma once
// The daemon's one listener and the registry around it: listens on the configured port (IPv4
// and IPv6), reports its status with the notification "TelvoServerSocketUpdated", starts and
// stops the DNS-SD advertisement, keeps one RemoteClient per accepted connection, the
// authorised device identifiers, the server UUID and session time, and the ordered list of
// collectors clients may ask for. Sessions that are not yet authorised are bounded per source
// address and in all; a connection beyond either is admitted and the oldest such session is
// closed instead: of the newcomer's own address at its bound, else of the address holding the
// most.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "collectors/framework/StatCollector.h"
#include "daemon/PasscodeThrottle.h"
#include "daemon/PeerLogLimiter.h"
#include "net/socket/GCDAsyncSocket.h"

namespace telvo {

class RemoteClient;
using RemoteClientPtr = std::shared_ptr<RemoteClient>;

class ServerManager : public GCDAsyncSocketDelegate, public std::enable_shared_from_this<ServerManager> {
public:
    enum Status : int64_t { kNotStarted = 0, kStarting = 1, kUnableToListen = 2, kListening = 3 };
    static constexpr uint16_t kDefaultPort = 5109;
    // Sessions not yet authorised: at most this many per source address and in all.
    static constexpr int kMaximumUnauthorisedPerAddress = 32;
    static constexpr int kMaximumUnauthorised = 256;
    // Seconds between the lines that count closed sessions and refused connections.
    static constexpr double kRefusalLogInterval = 60.0;
    // Seconds after the last of a run of closed sessions before freed memory is handed back.
    static constexpr double kTrimDelay = 2.0;

    static ServerManager& sharedServerManager();
    static std::shared_ptr<ServerManager> sharedServerManagerPtr();
    // Closes the listener and the sessions and forgets the instance.
    static void resetForTesting();

    void startListening();
    void stopListening();
    void changePort();
    uint16_t port() const;
    void startBonjour();
    void toggleBonjour();

    void socketDidAcceptNewSocket(const GCDAsyncSocketPtr& sock, const GCDAsyncSocketPtr& newSocket) override;
    void removeClient(const RemoteClient* client);

    bool isDeviceAuthorized(const std::string& device) const;
    void addDeviceToAuthorizedList(const std::string& device);
    void resetAuthorizedDevices();
    void loadUUID();

    int64_t status() const { return status_; }
    double session() const { return session_; }
    std::vector<RemoteClientPtr> clients() const;
    std::vector<std::string> authorizedDevices() const;
    bool socketAccepted() const { return socketAccepted_; }
    int activePort() const;
    GCDAsyncSocketPtr listener() const { return listener_; }

    std::vector<StatCollectorPtr>& statCollectors() { return statCollectors_; }

    PasscodeThrottle& passcodeThrottle() { return *throttle_; }
    const std::shared_ptr<PasscodeThrottle>& sharedPasscodeThrottle() const { return throttle_; }
    PeerLogLimiter& peerLog() { return *peerLog_; }
    // Connections closed at accept since creation: only while as many sessions chosen for
    // closing as the bound in all still wait for their close.
    long refusedConnections() const { return refusedTotal_; }
    // Sessions not yet authorised closed to make room for newer connections, since creation.
    long evictedSessions() const { return evictedTotal_; }
    // Sessions not yet authorised (and not chosen for closing), from `address` (any when
    // empty).
    int unauthorisedSessions(const std::string& address = std::string()) const;

private:
    ServerManager();
    void setStatus(int64_t status);
    // On the listener's queue, for a connection from `address`: the session to close so that
    // it fits (null when it fits as it is), or false when it cannot be admitted at all.
    bool makeRoom(const std::string& address, RemoteClientPtr& victim);
    void noteRefusal(const std::string& address);
    void logRefusals();
    void noteEviction(const std::string& closed, const std::string& admitted);
    void logEvictions();
    void scheduleTrim();

    std::atomic<int64_t> status_{kNotStarted};
    double session_ = 0;
    mutable std::mutex clientsMutex_;
    std::vector<RemoteClientPtr> clients_;
    mutable std::mutex devicesMutex_;
    std::vector<std::string> authorizedDevices_;
    GCDAsyncSocketPtr listener_;
    dispatch::QueuePtr socketQueue_;
    std::atomic<bool> socketAccepted_{false};
    std::vector<StatCollectorPtr> statCollectors_;
    std::shared_ptr<PasscodeThrottle> throttle_ = std::make_shared<PasscodeThrottle>();
    std::shared_ptr<PeerLogLimiter> peerLog_ = std::make_shared<PeerLogLimiter>();
    std::atomic<long> refusedTotal_{0};
    std::atomic<long> refusedSinceLine_{0};
    std::atomic<bool> refusalLineScheduled_{false};
    std::atomic<long> evictedTotal_{0};
    std::atomic<long> evictedSinceLine_{0};
    std::atomic<bool> evictionLineScheduled_{false};
    std::atomic<bool> trimScheduled_{false};
    std::atomic<uint64_t> closes_{0};
};

}  // namespace telvo
