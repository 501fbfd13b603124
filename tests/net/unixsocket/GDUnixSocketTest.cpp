// The Unix-domain dictionary sockets over real sockets under a temporary root: paths, frames,
// a client and server exchanging dictionaries, refusal by peer credentials, closing.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <atomic>
#include <filesystem>
#include <mutex>
#include "net/unixsocket/GDUnixSocketClient.h"
#include "net/unixsocket/GDUnixSocketServer.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"

namespace telvo {
namespace {

using dispatch::MainLoop;

TEST(GDUnixSocketPathTest, OnlyStandardPathsShorterThan104BytesMakeASocket) {
    struct Case {
        std::string path;
        bool ok;
    } cases[] = {
        {"/tmp/tvs3.socket", true},
        {"(dummy)", true},
        {"run/x.socket", true},
        {"tvs3.socket", false},                  // no "/"
        {"/tmp/../tmp/tvs3.socket", false},      // parent component
        {"/tmp//tvs3.socket", false},            // doubled slash
        {"/tmp/./tvs3.socket", false},
        {"/tmp/folder/", false},                 // trailing slash
        {"/" + std::string(102, 'a'), true},     // 103 bytes
        {"/" + std::string(103, 'a'), false},    // 104 bytes
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GDUnixSocket::initWithSocketPath(c.path) != nullptr, c.ok) << c.path;
        EXPECT_EQ(GDUnixSocketClient::initWithSocketPath(c.path) != nullptr, c.ok) << c.path;
    }
}

TEST(GDUnixSocketFrameTest, FramesSplitOrJoinedInAnyWayComeOutWholeAndInOrder) {
    Value a, b;
    a.set("key", "setpreference");
    a.set("pkey", "name");
    a.set("value", "ends with </term> and <b>&amp;</b>");
    b.set("key", "passcode");
    b.set("data", Value::data(std::string("</term>\0\xff", 9)));
    std::string bytes = GDUnixSocketEncodeFrame(a) + GDUnixSocketEncodeFrame(b);
    // The terminator occurs exactly where the frames end.
    size_t count = 0;
    for (size_t at = bytes.find("</term>"); at != std::string::npos; at = bytes.find("</term>", at + 1)) ++count;
    EXPECT_EQ(count, 2u);
    for (size_t chunk : {size_t(1), size_t(5), size_t(256), bytes.size()}) {
        GDUnixSocketFrameDecoder d;
        std::vector<Value> got;
        for (size_t at = 0; at < bytes.size(); at += chunk) {
            auto part = d.feed(bytes.data() + at, std::min(chunk, bytes.size() - at));
            got.insert(got.end(), part.begin(), part.end());
        }
        ASSERT_EQ(got.size(), 2u) << chunk;
        EXPECT_EQ(got[0], a);
        EXPECT_EQ(got[1], b);
        EXPECT_EQ(d.pendingBytes(), 0u);
    }
    GDUnixSocketFrameDecoder junk;
    EXPECT_TRUE(junk.feed("not a plist</term>", 18).empty());
    EXPECT_EQ(junk.droppedFrames(), 1u);
    GDUnixSocketFrameDecoder small(64);
    std::string endless(100, 'x');
    small.feed(endless.data(), endless.size());
    EXPECT_TRUE(small.failed());
}

class Recorder : public GDUnixSocketDelegate {
public:
    void unixSocketReceivedDictionary(const Value& d, GDUnixSocket* client) override {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(d);
        if (echo) {
            Value reply = d;
            reply.set("echoed", true);
            client->writeDictionary(reply);
        }
    }
    void unixSocketServerDidAcceptClientWithID(GDUnixSocketServer*, const std::string& id) override {
        std::lock_guard<std::mutex> lock(mutex);
        acceptedIDs.push_back(id);
    }
    void unixSocketServerDidStartListening(GDUnixSocketServer*) override { ++started; }
    void unixSocketServerDidClose(GDUnixSocketServer*, const ErrorPtr&) override { ++closed; }
    bool unixSocketServerShouldAcceptPeer(GDUnixSocketServer*, const xpc::PeerCredentials& peer) override {
        lastPeer = peer;
        return admit;
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return received.size();
    }
    std::mutex mutex;
    std::vector<Value> received;
    std::vector<std::string> acceptedIDs;
    std::atomic<int> started{0}, closed{0};
    xpc::PeerCredentials lastPeer;
    bool echo = false;
    std::atomic<bool> admit{true};
};

class GDUnixSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        MainLoop::resetForTesting();
        char tmpl[] = "/tmp/telvo-gdus-XXXXXX";
        root_ = mkdtemp(tmpl);
        fs::setRootForTesting(root_);
        fs::createDirectories("/run/control", 0750);
    }
    void TearDown() override {
        MainLoop::resetForTesting();
        fs::setRootForTesting("");
        std::filesystem::remove_all(root_);
    }
    std::string root_;
};

TEST_F(GDUnixSocketTest, ServerAndClientExchangeDictionariesWhole) {
    auto server = GDUnixSocketServer::initWithSocketPath("/run/control/tvs3.socket");
    auto serverSide = std::make_shared<Recorder>();
    serverSide->echo = true;
    server->setDelegate(serverSide);
    ErrorPtr error;
    ASSERT_TRUE(server->listenWithError(&error)) << error->description();
    EXPECT_EQ(server->state(), GDUnixSocket::kStateListening);
    EXPECT_EQ(serverSide->started.load(), 1);
    struct stat st{};
    ASSERT_EQ(stat(fs::resolve("/run/control/tvs3.socket").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    auto client = GDUnixSocketClient::initWithSocketPath("/run/control/tvs3.socket");
    auto clientSide = std::make_shared<Recorder>();
    client->setDelegate(clientSide);
    ASSERT_TRUE(client->connectWithAutoRead(true, &error)) << error->description();
    EXPECT_EQ(client->state(), GDUnixSocket::kStateConnected);

    std::string big(100000, 'z');
    Value requests[3];
    requests[0].set("key", "setpreference");
    requests[0].set("value", "a</term>b");
    requests[1].set("key", "version");
    requests[2].set("key", "big");
    requests[2].set("value", big);
    for (const auto& r : requests) EXPECT_GT(client->writeDictionary(r, &error), 0);
    EXPECT_EQ(client->writeData("", &error), 0);
    ASSERT_TRUE(MainLoop::runUntil([&] { return clientSide->count() == 3; }, 10));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(serverSide->received[size_t(i)], requests[i]);
        EXPECT_EQ(clientSide->received[size_t(i)]["echoed"], Value(true));
        EXPECT_EQ(clientSide->received[size_t(i)]["value"], requests[i]["value"]);
    }
    EXPECT_EQ(serverSide->acceptedIDs.size(), 1u);
    EXPECT_EQ(serverSide->lastPeer.pid, getpid());
    EXPECT_EQ(server->connectedClients().at(0)->socketPath(), "(dummy)");

    // Closing twice succeeds both times.
    EXPECT_TRUE(client->closeWithError(&error));
    EXPECT_TRUE(client->closeWithError(&error));
    EXPECT_EQ(client->state(), GDUnixSocket::kStateClosed);
    EXPECT_EQ(client->writeDictionary(requests[1], &error), -1);
    EXPECT_EQ(error->code, kGDUnixSocketErrorBadSocket);
    ASSERT_TRUE(MainLoop::runUntil([&] { return server->connectedClients().at(0)->state() == GDUnixSocket::kStateClosed; }, 60));

    EXPECT_TRUE(server->closeWithError(&error));
    EXPECT_EQ(serverSide->closed.load(), 1);
    EXPECT_FALSE(fs::exists("/run/control/tvs3.socket"));
}

TEST_F(GDUnixSocketTest, ARefusedPeerIsClosedWithoutAnAcceptReport) {
    auto server = GDUnixSocketServer::initWithSocketPath("/run/control/tvs3.socket");
    auto serverSide = std::make_shared<Recorder>();
    serverSide->admit = false;
    server->setDelegate(serverSide);
    ASSERT_TRUE(server->listenWithError());
    auto client = GDUnixSocketClient::initWithSocketPath("/run/control/tvs3.socket");
    ASSERT_TRUE(client->connectWithAutoRead(false));
    Value r;
    r.set("key", "passcode");
    client->writeDictionary(r);
    ErrorPtr error;
    auto data = client->readWithError(&error);  // end of stream: the server closed it
    EXPECT_FALSE(data.has_value());
    EXPECT_EQ(serverSide->count(), 0u);
    EXPECT_TRUE(serverSide->acceptedIDs.empty());
    server->closeSilently();
    EXPECT_EQ(serverSide->closed.load(), 0);
}

TEST_F(GDUnixSocketTest, AStaleSocketFileIsReplacedButALiveServerKeepsItsPath) {
    // A socket file nobody listens on, as a crashed run leaves it.
    int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string host = fs::resolve("/run/control/tvs3.socket");
    host.copy(a.sun_path, host.size());
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    close(stale);
    auto first = GDUnixSocketServer::initWithSocketPath("/run/control/tvs3.socket");
    ErrorPtr error;
    ASSERT_TRUE(first->listenWithError(&error)) << error->description();

    auto second = GDUnixSocketServer::initWithSocketPath("/run/control/tvs3.socket");
    EXPECT_FALSE(second->listenWithError(&error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kGDUnixSocketErrorBind);
    EXPECT_EQ(error->domain, "com.marrowind.GDUnixSocket");
    EXPECT_NE(error->message.find("Failed to bind socket. fd: "), std::string::npos) << error->message;
    // The failed server did not take the live one's file away.
    auto client = GDUnixSocketClient::initWithSocketPath("/run/control/tvs3.socket");
    EXPECT_TRUE(client->connectWithAutoRead(false, &error));
    first->closeSilently();
    auto nobody = GDUnixSocketClient::initWithSocketPath("/run/control/tvs3.socket");
    EXPECT_FALSE(nobody->connectWithAutoRead(false, &error));
    EXPECT_EQ(error->code, kGDUnixSocketErrorConnect);
}

}  // namespace
}  // namespace telvo
