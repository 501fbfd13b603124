// The control service: admission by caller credentials, ServiceProtocol, and the older
// route's dictionary commands.
#include "daemon/control/TVSXPCServer.h"

#include "daemon/RemoteClient.h"
#include "daemon/ServerManager.h"
#include "daemon/control/ServiceOperations.h"
#include "foundation/ServerLog.h"
#include "platform/dispatch/Queue.h"
#include "platform/xpc/RunFolder.h"

namespace telvo {

namespace {

std::mutex gServerMutex;
std::shared_ptr<TVSXPCServer> gServer;

Value number(int64_t n) { return Value(static_cast<long long>(n)); }

}  // namespace

TVSXPCServer& TVSXPCServer::sharedXPCServer() { return *sharedXPCServerPtr(); }

std::shared_ptr<TVSXPCServer> TVSXPCServer::sharedXPCServerPtr() {
    std::lock_guard<std::mutex> lock(gServerMutex);
    if (!gServer) gServer.reset(new TVSXPCServer());
    return gServer;
}

void TVSXPCServer::resetForTesting() {
    std::shared_ptr<TVSXPCServer> old;
    {
        std::lock_guard<std::mutex> lock(gServerMutex);
        old = std::move(gServer);
    }
    if (!old) return;
    std::lock_guard<std::mutex> lock(old->mutex_);
    if (old->listener_) old->listener_->invalidate();
    if (old->connectionLegacy_) {
        old->connectionLegacy_->closeSilently();
        for (const auto& c : old->connectionLegacy_->connectedClients()) c->close();
    }
    if (old->connection_) old->connection_->invalidate();
}

std::string TVSXPCServer::version() { return format("%.2f (%i)", kVersion, kBuild); }

void TVSXPCServer::clients(std::function<void(const Value&)> reply) {
    // The sessions' fields are written on the main queue; they are read there too.
    dispatch::Queue::main()->async([reply] {
        ValueArray list;
        for (const RemoteClientPtr& client : ServerManager::sharedServerManager().clients()) {
            Value entry;
            if (!client->address().empty()) entry.set("address", client->address());
            if (client->hostname() && !client->hostname()->empty())
                entry.set("hostname", *client->hostname());
            else if (!client->address().empty())
                entry.set("hostname", client->address());
            entry.set("sent", Value(client->bytes()));
            entry.set("time", Value(client->connectedTime()));
            list.push_back(std::move(entry));
        }
        reply(Value(std::move(list)));
    });
}

xpc::InterfacePtr TVSXPCServer::serviceProtocol() {
    using xpc::ArgType;
    using xpc::Reply;
    auto i = std::make_shared<xpc::Interface>("ServiceProtocol");
    i->add({"version:", {}, true, [](const ValueArray&, const Reply& r) { r(Value(version())); }});
    i->add({"clients:", {}, true, [](const ValueArray&, const Reply& r) { clients([r](const Value& v) { r(v); }); }});
    i->add({"resetAuthorizedDevices", {}, false, [](const ValueArray&, const Reply&) { control::resetAuthorizedDevices(); }});
    i->add({"objectForKey:reply:", {ArgType::String}, true,
            [](const ValueArray& a, const Reply& r) { r(control::objectForKey(a[0].stringValue())); }});
    i->add({"setObject:forKey:", {ArgType::Any, ArgType::String}, false,
            [](const ValueArray& a, const Reply&) { control::setObjectForKey(a[0], a[1].stringValue()); }});
    i->add({"setInteger:forKey:", {ArgType::Integer, ArgType::String}, false, [](const ValueArray& a, const Reply&) {
                control::setObjectForKey(number(a[0].intValue()), a[1].stringValue());
            }});
    i->add({"upnpStatus:", {}, true, [](const ValueArray&, const Reply& r) { r(number(control::upnpStatus())); }});
    i->add({"upnpPort:", {}, true, [](const ValueArray&, const Reply& r) { r(number(control::upnpPort())); }});
    i->add({"setBonjourEnabled:", {ArgType::Number}, false,
            [](const ValueArray& a, const Reply&) { control::setBonjourEnabled(a[0]); }});
    i->add({"serverStatus:", {}, true, [](const ValueArray&, const Reply& r) { r(number(control::serverStatus())); }});
    i->add({"setUpnpPort:", {ArgType::String}, false, [](const ValueArray& a, const Reply&) { control::setUpnpPort(a[0]); }});
    i->add({"setServerPort:", {ArgType::String}, false,
            [](const ValueArray& a, const Reply&) { control::setServerPort(a[0]); }});
    i->add({"resetAuthorizations", {}, false, [](const ValueArray&, const Reply&) { control::resetAuthorizedDevices(); }});
    i->add({"passcode:", {}, true, [](const ValueArray&, const Reply& r) { r(control::passcode()); }});
    i->add({"generatePasscode", {}, false, [](const ValueArray&, const Reply&) { control::generatePasscode(); }});
    i->add({"setPasscode:", {ArgType::String}, false,
            [](const ValueArray& a, const Reply& r) {
                if (ErrorPtr error = control::setPasscode(a[0])) r.fail(error->message);
            }});
    return i;
}

bool TVSXPCServer::admits(const xpc::PeerCredentials& peer, const char* route) {
    if (xpc::isAdministrator(peer)) return true;
    if (refusals_->allow("uid " + std::to_string(peer.uid)))
        ServerLog("refused %s connection from %@: not an administrator", route, peer.description());
    return false;
}

ErrorPtr TVSXPCServer::startListener() {
    auto listener = xpc::Listener::create(kServiceName);
    listener->setDelegate(shared_from_this());
    if (ErrorPtr error = listener->resume()) return error;
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = listener;
    return nullptr;
}

xpc::ConnectionPtr TVSXPCServer::connection() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connection_;
}

bool TVSXPCServer::shouldAcceptNewConnection(xpc::Listener&, const xpc::ConnectionPtr& newConnection) {
    if (!admits(newConnection->peerCredentials(), "control")) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connection_ = newConnection;
    }
    newConnection->setExportedInterface(serviceProtocol());
    // Each handler forgets the connection remembered at that moment.
    std::weak_ptr<TVSXPCServer> weak = weak_from_this();
    auto forget = [weak] {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->connection_.reset();
    };
    newConnection->setInterruptionHandler(forget);
    newConnection->setInvalidationHandler(forget);
    newConnection->resume();
    return true;
}

GDUnixSocketServerPtr TVSXPCServer::connectionLegacy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connectionLegacy_;
}

void TVSXPCServer::startLegacyServer() {
    gid_t admins = xpc::groupID(xpc::administratorGroup());
    if (ErrorPtr error = xpc::prepareRunFolder(kLegacyFolder, 0750, admins)) {
        DLog("%@", error->description());
        return;
    }
    GDUnixSocketServerPtr server = GDUnixSocketServer::initWithSocketPath(kLegacySocketPath, 256);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connectionLegacy_ = server;
    }
    server->setDelegate(shared_from_this());
    ErrorPtr error;
    if (!server->listenWithError(&error)) DLog("%@", error ? error->description() : std::string());
}

bool TVSXPCServer::unixSocketServerShouldAcceptPeer(GDUnixSocketServer*, const xpc::PeerCredentials& peer) {
    return admits(peer, "control socket");
}

void TVSXPCServer::unixSocketServerDidAcceptClientWithID(GDUnixSocketServer*, const std::string&) {
    DLog("new connection");
}

void TVSXPCServer::unixSocketReceivedDictionary(const Value& request, GDUnixSocket* client) {
    const std::string key = request["key"].stringValue();
    auto answer = [client, key](ValueDictionary fields) {
        fields["key"] = Value(key);
        client->writeDictionary(Value(std::move(fields)));
    };
    if (key == "version") {
        answer({{"version", Value(version())}});
    } else if (key == "serverstatus") {
        answer({{"status", number(control::serverStatus())}});
    } else if (key == "setbonjour") {
        control::setBonjourEnabled(request["value"]);
        answer({});
    } else if (key == "resetauth") {
        control::resetAuthorizedDevices();
        answer({});
    } else if (key == "setupnpport") {
        control::setUpnpPort(request["port"]);
        answer({});
    } else if (key == "upnpstatus") {
        answer({{"port", number(control::upnpPort())}, {"status", number(control::upnpStatus())}});
    } else if (key == "setport") {
        control::setServerPort(request["port"]);
        answer({});
    } else if (key == "setpasscode") {
        if (ErrorPtr error = control::setPasscode(request["passcode"]))
            answer({{"error", Value(error->message)}});
        else
            answer({});
    } else if (key == "setpreference") {
        control::setObjectForKey(request["value"], request["pkey"].stringValue());
        answer({});
    } else if (key == "generatepasscode") {
        control::generatePasscode();
        answer({});
    } else if (key == "passcode") {
        Value code = control::passcode();
        ValueDictionary fields;
        if (!code.isNull()) fields["passcode"] = code;
        answer(fields);
    } else if (key == "preference") {
        std::string pkey = request["pkey"].stringValue();
        Value value = control::objectForKey(pkey);
        answer({{"value", value.isNull() ? Value("") : value}, {"pkey", Value(pkey)}});
    } else if (key == "clients") {
        // The socket is kept alive by the reply until it is written.
        auto socket = client->shared_from_this();
        clients([socket, key](const Value& list) {
            socket->writeDictionary(Value(ValueDictionary{{"key", Value(key)}, {"clients", list}}));
        });
    }
}

}  // namespace telvo
