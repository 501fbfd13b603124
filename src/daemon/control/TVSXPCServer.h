#pragma once
// The daemon's side of the control channel: the listener delegate of the service
// "com.kestro.telvoserverdaemon", which exports ServiceProtocol on every connection it admits,
// and the older route's Unix-domain control socket, which serves the same commands as
// dictionaries. Only root and members of the administrators' group are admitted, by the
// caller's credentials; everyone else is refused and logged.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include "daemon/PeerLogLimiter.h"
#include "foundation/ControlChannel.h"
#include "net/unixsocket/GDUnixSocketServer.h"
#include "platform/xpc/Listener.h"

namespace telvo {

class TVSXPCServer : public xpc::ListenerDelegate,
                     public GDUnixSocketDelegate,
                     public std::enable_shared_from_this<TVSXPCServer> {
public:
    static constexpr const char* kServiceName = channel::kServiceName;
    static constexpr const char* kLegacyFolder = channel::kLegacyFolder;
    static constexpr const char* kLegacySocketPath = channel::kLegacySocketPath;
    static constexpr double kVersion = channel::kVersion;
    static constexpr int kBuild = channel::kBuild;

    static TVSXPCServer& sharedXPCServer();
    static std::shared_ptr<TVSXPCServer> sharedXPCServerPtr();
    // Closes the older route's server and the listener and forgets the instance.
    static void resetForTesting();

    // The daemon's entry: a listener on kServiceName with this object as its delegate, kept for
    // the life of the process. Answers the error when it cannot listen.
    ErrorPtr startListener();
    bool shouldAcceptNewConnection(xpc::Listener& listener, const xpc::ConnectionPtr& connection) override;

    // The older route.
    void startLegacyServer();
    void unixSocketReceivedDictionary(const Value& dictionary, GDUnixSocket* client) override;
    void unixSocketServerDidAcceptClientWithID(GDUnixSocketServer* server, const std::string& clientID) override;
    bool unixSocketServerShouldAcceptPeer(GDUnixSocketServer* server, const xpc::PeerCredentials& peer) override;
    GDUnixSocketServerPtr connectionLegacy() const;

    // ServiceProtocol, as exported.
    static xpc::InterfacePtr serviceProtocol();
    xpc::ConnectionPtr connection() const;

    // "%.2f (%i)" of the version and the build.
    static std::string version();
    // One dictionary per connected client, read on the main queue (where the sessions live) and
    // handed to `reply` from there.
    static void clients(std::function<void(const Value&)> reply);

private:
    TVSXPCServer() = default;
    bool admits(const xpc::PeerCredentials& peer, const char* route);

    mutable std::mutex mutex_;
    xpc::ListenerPtr listener_;
    xpc::ConnectionPtr connection_;
    GDUnixSocketServerPtr connectionLegacy_;
    // A refused caller (an application run by a user who is no administrator) tries again every
    // 2 s: its lines are limited per user.
    std::shared_ptr<PeerLogLimiter> refusals_ = std::make_shared<PeerLogLimiter>("this user");
};

}  // namespace telvo
