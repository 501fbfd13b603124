// The daemon's pattern: the listener reports on its own serial queue, each accepted socket is
// moved to a session on the main queue before TLS starts, and the main loop drives the session.
#include <gtest/gtest.h>

#include <atomic>

#include "SocketTestSupport.h"
#include "platform/dispatch/MainLoop.h"

namespace telvo {
namespace {

using sockettest::OpenSSLClient;

class Session : public GCDAsyncSocketDelegate {
public:
    explicit Session(GCDAsyncSocketPtr s) : socket(std::move(s)) {}
    GCDAsyncSocketPtr socket;
    std::vector<std::string> messages;
    bool securedOnMain = false;
    bool readsOnMain = true;
    ErrorPtr closeError;
    bool closed = false;

    void socketDidSecure(const GCDAsyncSocketPtr& sock) override {
        securedOnMain = dispatch::Queue::current() && dispatch::Queue::current()->isMain();
        sock->readDataToData(sockettest::terminator(), 120, 1);
    }
    void socketDidReadData(const GCDAsyncSocketPtr& sock, const Bytes& data, long) override {
        readsOnMain = readsOnMain && dispatch::Queue::current() && dispatch::Queue::current()->isMain();
        messages.push_back(sockettest::text(data));
        sock->writeData(sockettest::bytes("<tvx type=\"100\" protocol=\"3\"/>"), 120, 1);
        sock->readDataToData(sockettest::terminator(), 600, 1);
    }
    void socketDidDisconnect(const GCDAsyncSocketPtr&, const ErrorPtr& error) override {
        closeError = error;
        closed = true;
    }
};

class Manager : public GCDAsyncSocketDelegate {
public:
    std::mutex mutex;
    std::vector<std::shared_ptr<Session>> sessions;
    void socketDidAcceptNewSocket(const GCDAsyncSocketPtr&, const GCDAsyncSocketPtr& newSocket) override {
        auto session = std::make_shared<Session>(newSocket);
        newSocket->setDelegate(session, dispatch::Queue::main());
        newSocket->startTLS(sockettest::serverTLSSettings());
        std::lock_guard<std::mutex> lock(mutex);
        sessions.push_back(session);
    }
};

TEST(SocketSessionPattern, SessionOnTheMainQueueTalksTLS) {
    ASSERT_FALSE(sockettest::testIdentityPEM().empty()) << "no test identity (openssl tool)";
    auto manager = std::make_shared<Manager>();
    auto listenerQueue = dispatch::Queue::createSerial("TelvoServerSocketQueue");
    auto listener = GCDAsyncSocket::initWithDelegate(manager, listenerQueue);
    ErrorPtr error;
    ASSERT_TRUE(listener->acceptOnPort(0, &error)) << error->description();

    OpenSSLClient client({"s_client", "-connect", "[::1]:" + std::to_string(listener->localPort()), "-quiet", "-no_ign_eof"});
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(client.send("<tvx type=\"100\" compression=\"1\" protocol=\"3\" platform=\"1\"></tvx>"));
    std::shared_ptr<Session> session;
    ASSERT_TRUE(dispatch::MainLoop::runUntil(
        [&] {
            std::lock_guard<std::mutex> lock(manager->mutex);
            if (!manager->sessions.empty()) session = manager->sessions[0];
            return session && session->messages.size() == 1;
        },
        15));
    EXPECT_TRUE(session->securedOnMain);
    EXPECT_TRUE(session->readsOnMain);
    EXPECT_EQ(session->socket->connectedHost(), "::1");
    ASSERT_TRUE(client.readUntil("protocol=\"3\"/>"));
    client.finish();
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return session->closed; }, 15));
    ASSERT_TRUE(session->closeError);
    EXPECT_EQ(session->closeError->code, 7);
    listener->disconnect();
}

}  // namespace
}  // namespace telvo
