#include "daemon/ServerManager.h"

#include <malloc.h>

#include <algorithm>
#include <unordered_map>

#include "daemon/BonjourManager.h"
#include "daemon/Controller.h"
#include "foundation/ControlChannel.h"
#include "foundation/ServerLog.h"
#include "daemon/RemoteClient.h"
#include "daemon/TVSPreferences.h"
#include "foundation/extensions/StringMD5.h"
#include "platform/crypto/Random.h"
#include "platform/dispatch/Queue.h"
#include "platform/notify/DistributedNotificationCenter.h"
#include "platform/time/Clock.h"
#include "platform/values/Format.h"


namespace telvo {

namespace {

std::mutex gInstanceMutex;
std::shared_ptr<ServerManager> gInstance;

constexpr const char* kSocketUpdated = channel::kSocketUpdated;

// A random (version 4) UUID in upper-case 8-4-4-4-12 form; empty when no random bytes came.
std::string newUUIDString() {
    unsigned char b[16];
    crypto::randomBytes(b, sizeof b);
    b[6] = (b[6] & 0x0f) | 0x40;
    b[8] = (b[8] & 0x3f) | 0x80;
    std::string out;
    char hex[3];
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        snprintf(hex, sizeof hex, "%02X", b[i]);
        out += hex;
    }
    return out;
}

}  // namespace

std::shared_ptr<ServerManager> ServerManager::sharedServerManagerPtr() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) gInstance.reset(new ServerManager());
    return gInstance;
}

ServerManager& ServerManager::sharedServerManager() { return *sharedServerManagerPtr(); }

void ServerManager::resetForTesting() {
    std::shared_ptr<ServerManager> old;
    {
        std::lock_guard lock(gInstanceMutex);
        old = std::move(gInstance);
    }
    if (!old) return;
    old->stopListening();
    std::vector<RemoteClientPtr> clients;
    {
        std::lock_guard lock(old->clientsMutex_);
        clients.swap(old->clients_);
    }
    for (auto& client : clients)
        if (client->socket()) client->socket()->setDelegate(std::weak_ptr<GCDAsyncSocketDelegate>());
    clients.clear();
}

ServerManager::ServerManager() {
    setStatus(kNotStarted);
    session_ = platform::Clock::now();
    Value stored = TVSPreferences::sharedPreferences().objectForKey("authorized devices");
    for (const Value& device : stored.array())
        if (device.isString()) authorizedDevices_.push_back(device.string());
    loadUUID();
}

void ServerManager::setStatus(int64_t status) {
    status_ = status;
    notify::DistributedNotificationCenter::defaultCenter().postNotification(kSocketUpdated);
}

void ServerManager::loadUUID() {
    TVSPreferences& preferences = TVSPreferences::sharedPreferences();
    if (!preferences.objectForKey("uuid").isNull()) return;
    std::string uuid = newUUIDString();
    if (uuid.empty()) {
        // Without a UUID: the MD5 of the time.
        uuid = MD5(format("%.0f", platform::Clock::now()));
    }
    preferences.setObject(Value(uuid), "uuid");
}

uint16_t ServerManager::port() const {
    int64_t port = int32_t(TVSPreferences::sharedPreferences().objectForKey("port").intValue());
    if (port < 1024 || port > 65535) return kDefaultPort;
    return uint16_t(port);
}

void ServerManager::startListening() {
    setStatus(kStarting);
    socketQueue_ = dispatch::Queue::createSerial("TelvoServerSocketQueue");
    listener_ = GCDAsyncSocket::initWithDelegate(std::weak_ptr<GCDAsyncSocketDelegate>(shared_from_this()), socketQueue_);
    ErrorPtr error;
    uint16_t configured = port();
    if (listener_->acceptOnPort(configured, &error)) {
        setStatus(kListening);
        socketAccepted_ = true;
        ServerLog("Waiting for connections on port %u.", unsigned(listener_->localPort()));
        startBonjour();
    } else {
        setStatus(kUnableToListen);
        socketAccepted_ = false;
        ServerLog("Cannot accept connections on port %u. Error domain %@ code %d (%@). Exiting.", unsigned(configured),
                  error ? error->domain : std::string(), error ? int(error->code) : 0,
                  error ? error->message : std::string());
    }
}

void ServerManager::stopListening() {
    if (!listener_) return;
    listener_->setDelegate(std::weak_ptr<GCDAsyncSocketDelegate>());
    listener_->disconnect();
    listener_.reset();
}

void ServerManager::changePort() {
    stopListening();
    BonjourManager::sharedBonjourManager().stopBonjour();
    startListening();
}

int ServerManager::activePort() const { return listener_ && socketAccepted_ ? int(listener_->localPort()) : -1; }

void ServerManager::startBonjour() {
    TVSPreferences& preferences = TVSPreferences::sharedPreferences();
    if (!preferences.boolForKey("bonjour enabled")) return;
    BonjourManager::sharedBonjourManager().startBonjourWithPort(listener_ ? listener_->localPort() : port(),
                                                                preferences.objectForKey("uuid").stringValue());
}

void ServerManager::toggleBonjour() {
    if (TVSPreferences::sharedPreferences().boolForKey("bonjour enabled"))
        startBonjour();
    else
        BonjourManager::sharedBonjourManager().stopBonjour();
}

int ServerManager::unauthorisedSessions(const std::string& address) const {
    std::lock_guard lock(clientsMutex_);
    int count = 0;
    for (const auto& client : clients_)
        if (!client->authenticated() && !client->evicted() && (address.empty() || client->address() == address)) ++count;
    return count;
}

bool ServerManager::makeRoom(const std::string& address, RemoteClientPtr& victim) {
    victim.reset();
    std::lock_guard lock(clientsMutex_);
    std::unordered_map<std::string, int> byAddress;
    int all = 0, closing = 0;
    for (const auto& client : clients_) {
        if (client->authenticated()) continue;
        if (client->evicted()) {
            ++closing;
            continue;
        }
        ++all;
        ++byAddress[client->address()];
    }
    // The address that loses its oldest session: the newcomer's own at its bound, else, with
    // all full, the one holding the most (of equals, the one holding the oldest session), so
    // that an address holding few keeps them while another holds more.
    std::string from;
    if (byAddress[address] >= kMaximumUnauthorisedPerAddress) {
        from = address;
    } else if (all >= kMaximumUnauthorised) {
        int most = 0;
        for (const auto& [a, n] : byAddress) most = std::max(most, n);
        for (const auto& client : clients_)
            if (!client->authenticated() && !client->evicted() && byAddress[client->address()] == most) {
                from = client->address();
                break;
            }
    } else {
        return true;
    }
    // Sessions already chosen close on the main queue; should as many as the bound wait for
    // that, the newcomer is refused, so that a flood cannot pile up sessions being closed.
    if (closing >= kMaximumUnauthorised) return false;
    for (const auto& client : clients_)
        if (!client->authenticated() && !client->evicted() && client->address() == from) {
            victim = client;
            victim->markEvicted();
            return true;
        }
    return true;
}

void ServerManager::socketDidAcceptNewSocket(const GCDAsyncSocketPtr&, const GCDAsyncSocketPtr& newSocket) {
    // Sessions are appended only here, on the listener's queue, so the counts cannot grow
    // between the look and the append.
    std::string address = newSocket->connectedHost();
    RemoteClientPtr victim;
    if (!makeRoom(address, victim)) {
        newSocket->setDelegate(std::weak_ptr<GCDAsyncSocketDelegate>());
        newSocket->disconnect();
        noteRefusal(address);
        return;
    }
    if (victim) {
        noteEviction(victim->address(), address);
        // Sessions are authorised on the main queue: closed there, unless that happened first.
        dispatch::Queue::main()->async([victim] { victim->closeEvicted(); });
    }
    RemoteClientPtr client = RemoteClient::initWithSocket(newSocket);
    std::lock_guard lock(clientsMutex_);
    clients_.push_back(std::move(client));
}

void ServerManager::noteEviction(const std::string& closed, const std::string& admitted) {
    ++evictedTotal_;
    if (evictionLineScheduled_.exchange(true)) {
        ++evictedSinceLine_;
        return;
    }
    // The first after a quiet minute is told at once, the rest once a minute.
    ServerLog("%@: closing its oldest session that is not authorized to admit a connection from %@: too many sessions "
              "that are not authorized",
              closed, admitted);
    std::weak_ptr<ServerManager> weak = weak_from_this();
    dispatch::Queue::global()->after(kRefusalLogInterval, [weak] {
        if (auto self = weak.lock()) self->logEvictions();
    });
}

void ServerManager::logEvictions() {
    long closed = evictedSinceLine_.exchange(0);
    if (closed == 0) {
        evictionLineScheduled_ = false;
        return;
    }
    ServerLog("Closed %li sessions that were not authorized in the last minute to admit newer connections: too many "
              "sessions that are not authorized",
              closed);
    std::weak_ptr<ServerManager> weak = weak_from_this();
    dispatch::Queue::global()->after(kRefusalLogInterval, [weak] {
        if (auto self = weak.lock()) self->logEvictions();
    });
}

void ServerManager::noteRefusal(const std::string& address) {
    ++refusedTotal_;
    if (refusalLineScheduled_.exchange(true)) {
        ++refusedSinceLine_;
        return;
    }
    // The first refusal after a quiet minute is told at once, the rest once a minute.
    ServerLog("%@: connection refused: too many sessions that are not authorized", address);
    std::weak_ptr<ServerManager> weak = weak_from_this();
    dispatch::Queue::global()->after(kRefusalLogInterval, [weak] {
        if (auto self = weak.lock()) self->logRefusals();
    });
}

void ServerManager::logRefusals() {
    long refused = refusedSinceLine_.exchange(0);
    if (refused == 0) {
        refusalLineScheduled_ = false;
        return;
    }
    ServerLog("Refused %li connections in the last minute: too many sessions that are not authorized", refused);
    std::weak_ptr<ServerManager> weak = weak_from_this();
    dispatch::Queue::global()->after(kRefusalLogInterval, [weak] {
        if (auto self = weak.lock()) self->logRefusals();
    });
}

void ServerManager::scheduleTrim() {
    // After a run of closes, hand the freed memory back to the system once things are quiet.
    if (trimScheduled_.exchange(true)) return;
    std::weak_ptr<ServerManager> weak = weak_from_this();
    uint64_t seen = closes_.load();
    dispatch::Queue::global()->after(kTrimDelay, [weak, seen] {
        auto self = weak.lock();
        if (!self) return;
        self->trimScheduled_ = false;
        if (self->closes_.load() != seen) {
            self->scheduleTrim();  // still closing: wait for the run to end
            return;
        }
        malloc_trim(0);
    });
}

void ServerManager::removeClient(const RemoteClient* client) {
    RemoteClientPtr removed;  // released after the lock
    bool empty = false;
    {
        std::lock_guard lock(clientsMutex_);
        auto it = std::find_if(clients_.begin(), clients_.end(), [&](const RemoteClientPtr& c) { return c.get() == client; });
        if (it == clients_.end()) return;
        removed = *it;
        clients_.erase(it);
        empty = clients_.empty();
    }
    ++closes_;
    scheduleTrim();
    if (empty) {
        if (auto& processes = Controller::sharedController().collectors().processes) processes->setEnabled(false);
    }
}

std::vector<RemoteClientPtr> ServerManager::clients() const {
    std::lock_guard lock(clientsMutex_);
    return clients_;
}

std::vector<std::string> ServerManager::authorizedDevices() const {
    std::lock_guard lock(devicesMutex_);
    return authorizedDevices_;
}

bool ServerManager::isDeviceAuthorized(const std::string& device) const {
    std::lock_guard lock(devicesMutex_);
    return std::find(authorizedDevices_.begin(), authorizedDevices_.end(), device) != authorizedDevices_.end();
}

void ServerManager::addDeviceToAuthorizedList(const std::string& device) {
    if (device.empty()) return;
    std::lock_guard lock(devicesMutex_);
    // A device that gives the right passcode again is listed once.
    if (std::find(authorizedDevices_.begin(), authorizedDevices_.end(), device) != authorizedDevices_.end()) return;
    authorizedDevices_.push_back(device);
    ValueArray list;
    for (const auto& d : authorizedDevices_) list.push_back(Value(d));
    // Stored under the lock, so that lists reach the preferences in the order they were made;
    // the file is written on the preferences' queue, so that a login never waits for the disk.
    TVSPreferences::sharedPreferences().setObjectSoon(Value(std::move(list)), "authorized devices");
}

void ServerManager::resetAuthorizedDevices() {
    DLog("Resetting authorizations");
    TVSPreferences& preferences = TVSPreferences::sharedPreferences();
    {
        // Under the lock, as the additions are: a list made before cannot be stored after.
        std::lock_guard lock(devicesMutex_);
        authorizedDevices_.clear();
        preferences.setObjectSoon(Value(ValueArray{}), "authorized devices");
    }
    preferences.flush();
}

}  // namespace telvo
