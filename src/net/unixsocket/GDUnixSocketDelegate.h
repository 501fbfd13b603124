#pragma once
// What the owner of a Unix-domain dictionary socket is told; every operation is optional.
#include <string>
#include "platform/Error.h"
#include "platform/values/Value.h"
#include "platform/xpc/PeerCredentials.h"

namespace telvo {

class GDUnixSocket;
class GDUnixSocketServer;

class GDUnixSocketDelegate {
public:
    virtual ~GDUnixSocketDelegate() = default;
    // One received dictionary, on the reading thread, in arrival order.
    virtual void unixSocketReceivedDictionary(const Value& dictionary, GDUnixSocket* client) {
        (void)dictionary, (void)client;
    }
    virtual void unixSocketServerDidAcceptClientWithID(GDUnixSocketServer* server, const std::string& clientID) {
        (void)server, (void)clientID;
    }
    virtual void unixSocketServerDidStartListening(GDUnixSocketServer* server) { (void)server; }
    virtual void unixSocketServerDidClose(GDUnixSocketServer* server, const ErrorPtr& error) {
        (void)server, (void)error;
    }
    virtual void unixSocketServerDidFailToAcceptConnection(GDUnixSocketServer* server, const ErrorPtr& error) {
        (void)server, (void)error;
    }
    // Asked before a connection is taken on: false closes it at once. Every caller by default.
    virtual bool unixSocketServerShouldAcceptPeer(GDUnixSocketServer* server, const xpc::PeerCredentials& peer) {
        (void)server, (void)peer;
        return true;
    }
};

}  // namespace telvo
