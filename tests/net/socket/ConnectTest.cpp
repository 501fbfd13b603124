// Connecting: to listeners on 127.0.0.1, ::1 and "localhost", the preferred family and the
// other one after the delay, refused and timed-out connects, the argument checks, client-side
// TLS against the socket's own TLS server, and Unix-domain listening and connecting.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "SocketTestSupport.h"
#include "net/socket/TlsStatus.h"
#include "platform/time/Clock.h"

namespace telvo {
namespace {

using sockettest::EchoServer;

EchoServer::Options plain() {
    EchoServer::Options o;
    o.tls = false;
    return o;
}

// The connecting side: records what its socket reports; on connect it starts TLS when asked,
// and once connected (or secured) it sends one message and reads the echo.
class Client : public GCDAsyncSocketDelegate, public std::enable_shared_from_this<Client> {
public:
    struct Options {
        Value tlsSettings;  // null: no TLS
        std::optional<bool> trustAnswer;  // manual trust evaluation: the answer to give
        std::string message = "<tvx>hello</tvx>";
    };
    explicit Client(Options o) : options(std::move(o)), queue(dispatch::Queue::createSerial("test.client")) {}
    static std::shared_ptr<Client> make() { return make(Options()); }
    static std::shared_ptr<Client> make(Options o) {
        auto c = std::make_shared<Client>(std::move(o));
        c->socket = GCDAsyncSocket::initWithDelegate(c, c->queue);
        return c;
    }

    bool waitFor(const std::function<bool()>& predicate, double seconds = 15) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::duration<double>(seconds), predicate);
    }

    Options options;
    dispatch::QueuePtr queue;
    GCDAsyncSocketPtr socket;
    std::mutex mutex;
    std::condition_variable changed;
    int connects = 0;
    std::string host;
    uint16_t port = 0;
    std::string url;
    bool secured = false;
    size_t trustCertificates = 0;
    std::vector<std::string> reads;
    std::vector<ErrorPtr> disconnects;

    void socketDidConnectToHost(const GCDAsyncSocketPtr& sock, const std::string& h, uint16_t p) override {
        begin(sock);  // before the count: a test that saw it may end at once
        record([&] {
            ++connects;
            host = h;
            port = p;
        });
    }
    void socketDidConnectToUrl(const GCDAsyncSocketPtr& sock, const std::string& u) override {
        begin(sock);
        record([&] {
            ++connects;
            url = u;
        });
    }
    void socketDidSecure(const GCDAsyncSocketPtr& sock) override {
        record([&] { secured = true; });
        exchange(sock);
    }
    bool socketDidReceiveTrust(const GCDAsyncSocketPtr&, const GCDAsyncSocketTrust& trust,
                               std::function<void(bool)> completionHandler) override {
        if (!options.trustAnswer) return false;
        record([&] { trustCertificates = trust.certificates.size(); });
        completionHandler(*options.trustAnswer);
        return true;
    }
    void socketDidReadData(const GCDAsyncSocketPtr&, const Bytes& data, long) override {
        record([&] { reads.push_back(sockettest::text(data)); });
    }
    void socketDidDisconnect(const GCDAsyncSocketPtr&, const ErrorPtr& error) override {
        record([&] { disconnects.push_back(error); });
    }

private:
    void begin(const GCDAsyncSocketPtr& sock) {
        if (options.tlsSettings.isNull()) exchange(sock);
        else sock->startTLS(options.tlsSettings);
    }
    void exchange(const GCDAsyncSocketPtr& sock) {
        sock->writeData(sockettest::bytes(options.message), 10, 1);
        sock->readDataToData(sockettest::terminator(), 10, 2);
    }
    void record(const std::function<void()>& change) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            change();
        }
        changed.notify_all();
    }
};

Bytes loopbackAddress(int family, uint16_t port) {
    if (family == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&a);
        return Bytes(p, p + sizeof a);
    }
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

// A descriptor bound to a loopback port (IPv4 and IPv6 on the same one) that never listens:
// connects to it are refused.
struct RefusingPort {
    int fd4 = -1, fd6 = -1;
    uint16_t port = 0;
    RefusingPort() {
        // The IPv6 side of a port the system chose for IPv4 may be taken by another process:
        // try again with another port.
        for (int attempt = 0; attempt < 50 && port == 0; ++attempt) {
            if (fd4 >= 0) ::close(fd4);
            if (fd6 >= 0) ::close(fd6);
            fd4 = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            Bytes a4 = loopbackAddress(AF_INET, 0);
            ::bind(fd4, reinterpret_cast<const sockaddr*>(a4.data()), socklen_t(a4.size()));
            sockaddr_in bound{};
            socklen_t len = sizeof bound;
            ::getsockname(fd4, reinterpret_cast<sockaddr*>(&bound), &len);
            const uint16_t chosen = ntohs(bound.sin_port);
            fd6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
            Bytes a6 = loopbackAddress(AF_INET6, chosen);
            if (::bind(fd6, reinterpret_cast<const sockaddr*>(a6.data()), socklen_t(a6.size())) == 0) port = chosen;
        }
    }
    ~RefusingPort() {
        ::close(fd4);
        ::close(fd6);
    }
};

// One temporary folder for this test program's socket files, removed when the program ends.
struct TempFolder {
    std::string path;
    TempFolder() {
        char pattern[] = "/tmp/telvo-connect-test-XXXXXX";
        const char* d = ::mkdtemp(pattern);
        path = d ? d : "";
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

std::string tempPath(const std::string& name) {
    static const TempFolder folder;
    return (folder.path.empty() ? std::string("/tmp") : folder.path) + "/" + name;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

TEST(SocketConnect, ConnectsToEachLoopbackAndExchangesAMessage) {
    auto server = EchoServer::make(plain());
    const uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    struct Case {
        const char* name;
        std::function<bool(GCDAsyncSocket&, ErrorPtr*)> connect;
        std::string host;
        bool preferIPv6 = false;
    };
    const Case cases[] = {
        {"IPv4 text", [&](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToHost("127.0.0.1", port, e); }, "127.0.0.1"},
        {"IPv6 text", [&](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToHost("::1", port, 5, e); }, "::1"},
        {"localhost prefers IPv4", [&](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToHost("localhost", port, e); },
         "127.0.0.1"},
        {"localhost preferring IPv6",
         [&](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToHost("localhost", port, e); }, "::1", true},
        {"IPv4 address",
         [&](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToAddress(loopbackAddress(AF_INET, port), e); },
         "127.0.0.1"},
        {"IPv6 address via the loopback interface",
         [&](GCDAsyncSocket& s, ErrorPtr* e) {
             return s.connectToAddress(loopbackAddress(AF_INET6, port), "localhost", 5, e);
         },
         "::1"},
    };
    size_t echoed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto client = Client::make();
        if (c.preferIPv6) client->socket->setIPv4PreferredOverIPv6(false);
        ErrorPtr error;
        ASSERT_TRUE(c.connect(*client->socket, &error)) << error->description();
        ASSERT_TRUE(client->waitFor([&] { return client->reads.size() == 1; }));
        EXPECT_EQ(client->reads[0], "<tvx>hello</tvx>");
        EXPECT_EQ(client->connects, 1);
        EXPECT_EQ(client->host, c.host);
        EXPECT_EQ(client->port, port);
        EXPECT_TRUE(client->socket->isConnected());
        EXPECT_EQ(client->socket->connectedHost(), c.host);
        EXPECT_EQ(client->socket->isIPv6(), c.host == "::1");
        EXPECT_FALSE(client->socket->isIPv4() && client->socket->isIPv6());  // the loser was closed
        // The server echoes before it records the read: wait for the record (counted once).
        const size_t recorded = ++echoed;
        ASSERT_TRUE(server->waitFor([&] { return server->reads.size() == recorded; }));
        client->socket->disconnect();
        ASSERT_TRUE(client->waitFor([&] { return client->disconnects.size() == 1; }));
        EXPECT_FALSE(client->disconnects[0]);
    }
}

TEST(SocketConnect, OtherFamilyIsTriedAfterTheDelayWhenThePreferredOneIsRefused) {
    auto server = EchoServer::make(plain());
    server->listener = GCDAsyncSocket::initWithDelegate(server, server->queue);
    server->listener->setIPv4Enabled(false);
    ErrorPtr error;
    ASSERT_TRUE(server->listener->acceptOnInterface("localhost", 0, &error)) << error->description();
    const uint16_t port = server->listener->localPort();

    auto client = Client::make();
    EXPECT_DOUBLE_EQ(client->socket->alternateAddressDelay(), 0.3);
    client->socket->setAlternateAddressDelay(0.05);
    ASSERT_TRUE(client->socket->connectToHost("localhost", port, &error)) << error->description();
    ASSERT_TRUE(client->waitFor([&] { return client->reads.size() == 1; }));
    EXPECT_EQ(client->host, "::1");
    EXPECT_TRUE(client->disconnects.empty());
}

TEST(SocketConnect, RefusedOnEveryFamilyClosesWithTheConnectError) {
    RefusingPort refusing;
    ASSERT_NE(refusing.port, 0);
    auto client = Client::make();
    client->socket->setAlternateAddressDelay(0.05);
    // Twice on the same socket (a closed socket may connect again); the descriptors are
    // counted from the second round, when the process's own lazily made ones exist.
    int before = 0;
    for (size_t round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        if (round == 2) before = sockettest::settledDescriptorCount();
        ErrorPtr error;
        ASSERT_TRUE(client->socket->connectToHost("localhost", refusing.port, &error));
        EXPECT_FALSE(client->socket->isDisconnected());
        ASSERT_TRUE(client->waitFor([&] { return client->disconnects.size() == round; }));
        ASSERT_TRUE(client->disconnects.back());
        EXPECT_EQ(client->disconnects.back()->domain, "NSPOSIXErrorDomain");
        EXPECT_EQ(client->disconnects.back()->code, ECONNREFUSED);
        EXPECT_EQ(socketErrorFailureReason(client->disconnects.back()), "Error in connect() function");
        EXPECT_EQ(client->connects, 0);
        EXPECT_TRUE(client->socket->isDisconnected());
    }
    EXPECT_EQ(sockettest::descriptorCountAfterClosing(before), before);
}

// A listener whose accept queue is full drops new connection requests, so the connect stays
// under way until the time limit (virtual time) closes it.
TEST(SocketConnect, TimeLimitClosesAConnectThatHangs) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Bytes any = loopbackAddress(AF_INET, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(any.data()), socklen_t(any.size())), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &len);
    const uint16_t port = ntohs(bound.sin_port);
    // One connection fills the queue (never accepted).
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Bytes target = loopbackAddress(AF_INET, port);
    ASSERT_EQ(::connect(filler, reinterpret_cast<const sockaddr*>(target.data()), socklen_t(target.size())), 0);

    platform::Clock::useVirtual(1.7e9);
    auto client = Client::make();
    ErrorPtr error;
    ASSERT_TRUE(client->socket->connectToAddress(target, 10, &error)) << error->description();
    client->socket->performBlock([] {});
    platform::Clock::advance(9.5);
    EXPECT_FALSE(client->waitFor([&] { return !client->disconnects.empty() || client->connects > 0; }, 0.3));
    platform::Clock::advance(1);
    ASSERT_TRUE(client->waitFor([&] { return client->disconnects.size() == 1; }));
    platform::Clock::useReal();
    ASSERT_TRUE(client->disconnects[0]);
    EXPECT_EQ(client->disconnects[0]->domain, "GCDAsyncSocketErrorDomain");
    EXPECT_EQ(client->disconnects[0]->code, 3);
    EXPECT_EQ(client->disconnects[0]->message, "Attempt to connect to host timed out");
    EXPECT_EQ(client->connects, 0);
    ::close(filler);
    ::close(listener);
}

TEST(SocketConnect, ArgumentAndStateChecks) {
    auto holder = Client::make();
    auto listening = GCDAsyncSocket::initWithDelegate(holder, holder->queue);
    ASSERT_TRUE(listening->acceptOnInterface("localhost", 0));
    struct Case {
        const char* name;
        std::function<GCDAsyncSocketPtr()> make;
        std::function<bool(GCDAsyncSocket&, ErrorPtr*)> connect;
        long code;
        std::string message;
    };
    auto fresh = [&] { return GCDAsyncSocket::initWithDelegate(holder, holder->queue); };
    auto without = [&](bool v4, bool v6) {
        return [&, v4, v6] {
            auto s = fresh();
            s->setIPv4Enabled(!v4);
            s->setIPv6Enabled(!v6);
            return s;
        };
    };
    auto toLocal = [](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToHost("127.0.0.1", 9, e); };
    const Case cases[] = {
        {"no delegate", [&] { return GCDAsyncSocket::initWithDelegate({}, holder->queue); }, toLocal, 1,
         "Attempting to connect without a delegate. Set a delegate first."},
        {"no delegate queue", [&] { return GCDAsyncSocket::initWithDelegate(holder, nullptr); }, toLocal, 1,
         "Attempting to connect without a delegate queue. Set a delegate queue first."},
        {"already listening", [&] { return listening; }, toLocal, 1,
         "Attempting to connect while connected or accepting connections. Disconnect first."},
        {"both families disabled", without(true, true), toLocal, 1,
         "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."},
        {"empty host", fresh, [](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToHost("", 9, e); }, 2,
         "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string."},
        {"unknown interface", fresh,
         [](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToHost("127.0.0.1", 9, "nosuchif0", 1, e); }, 2,
         "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."},
        {"no address", fresh, [](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToAddress(Bytes{2, 0, 0}, e); }, 2,
         "A valid IPv4 or IPv6 address was not given"},
        {"IPv4 address with IPv4 off", without(true, false),
         [](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToAddress(loopbackAddress(AF_INET, 9), e); }, 2,
         "IPv4 has been disabled and an IPv4 address was passed."},
        {"IPv6 address with IPv6 off", without(false, true),
         [](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToAddress(loopbackAddress(AF_INET6, 9), e); }, 2,
         "IPv6 has been disabled and an IPv6 address was passed."},
        {"URL of another scheme", fresh,
         [](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToUrl("http://localhost/socket", 1, e); }, 2,
         "Invalid unix domain socket url."},
        {"URL with a path too long", fresh,
         [](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToUrl("file:///" + std::string(120, 'p'), 1, e); }, 2,
         "Invalid unix domain socket url."},
        {"URL while listening", [&] { return listening; },
         [](GCDAsyncSocket& s, ErrorPtr* e) { return s.connectToUrl("file:///tmp/x", 1, e); }, 1,
         "Attempting to connect while connected or accepting connections. Disconnect first."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GCDAsyncSocketPtr s = c.make();
        const bool wasStarted = !s->isDisconnected();
        ErrorPtr error;
        EXPECT_FALSE(c.connect(*s, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, "GCDAsyncSocketErrorDomain");
        EXPECT_EQ(error->code, c.code);
        EXPECT_EQ(error->message, c.message);
        EXPECT_EQ(s->isDisconnected(), !wasStarted);
    }
    // The lookup's answer is checked against the enabled families.
    struct LookupCase {
        std::string host;
        bool v4Off;
        std::string message;
    };
    for (const LookupCase& c : {LookupCase{"127.0.0.1", true, "IPv4 has been disabled and DNS lookup found no IPv6 address."},
                                LookupCase{"::1", false, "IPv6 has been disabled and DNS lookup found no IPv4 address."}}) {
        SCOPED_TRACE(c.host);
        auto client = Client::make();
        if (c.v4Off) client->socket->setIPv4Enabled(false);
        else client->socket->setIPv6Enabled(false);
        ASSERT_TRUE(client->socket->connectToHost(c.host, 9));
        ASSERT_TRUE(client->waitFor([&] { return client->disconnects.size() == 1; }));
        ASSERT_TRUE(client->disconnects[0]);
        EXPECT_EQ(client->disconnects[0]->code, 8);
        EXPECT_EQ(client->disconnects[0]->message, c.message);
    }
}

class SocketConnectTLS : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(sockettest::testIdentityPEM().empty()) << "no test identity (openssl tool)"; }
};

TEST_F(SocketConnectTLS, ClientRoundTripAgainstTheServerSide) {
    auto server = EchoServer::make({});
    const uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    Client::Options o;
    o.tlsSettings.set(kCFStreamSSLPeerName, "TelvoServer2Test");
    auto client = Client::make(o);
    ASSERT_TRUE(client->socket->connectToHost("localhost", port));
    ASSERT_TRUE(client->waitFor([&] { return client->reads.size() == 1; }));
    EXPECT_TRUE(client->secured);
    EXPECT_TRUE(client->socket->isSecure());
    EXPECT_EQ(client->reads[0], "<tvx>hello</tvx>");
    ASSERT_TRUE(server->waitFor([&] { return server->secured == 1 && server->reads.size() == 1; }));
    client->socket->disconnect();
    ASSERT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }));
}

TEST_F(SocketConnectTLS, ManualTrustEvaluationAsksTheDelegate) {
    auto server = EchoServer::make({});
    const uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    for (bool trust : {true, false}) {
        SCOPED_TRACE(trust ? "trusted" : "refused");
        Client::Options o;
        o.tlsSettings.set(GCDAsyncSocketManuallyEvaluateTrust, true);
        o.trustAnswer = trust;
        auto client = Client::make(o);
        ASSERT_TRUE(client->socket->connectToHost("127.0.0.1", port));
        if (trust) {
            ASSERT_TRUE(client->waitFor([&] { return client->reads.size() == 1; }));
            EXPECT_EQ(client->reads[0], "<tvx>hello</tvx>");
        } else {
            ASSERT_TRUE(client->waitFor([&] { return client->disconnects.size() == 1; }));
            ASSERT_TRUE(client->disconnects[0]);
            EXPECT_EQ(client->disconnects[0]->domain, "kCFStreamErrorDomainSSL");
            EXPECT_EQ(client->disconnects[0]->code, tls::errSSLPeerBadCert);
            EXPECT_FALSE(client->secured);
        }
        EXPECT_EQ(client->trustCertificates, 1u);  // the server's self-signed certificate
    }
}

TEST(SocketUnixDomain, AcceptAndConnectRoundTrip) {
    auto server = EchoServer::make(plain());
    server->listener = GCDAsyncSocket::initWithDelegate(server, server->queue);
    const std::string path = tempPath("round-trip.sock");
    const std::string url = "file://" + path;
    ErrorPtr error;
    ASSERT_TRUE(server->listener->acceptOnUrl(url, &error)) << error->description();
    EXPECT_TRUE(exists(path));

    auto client = Client::make();
    ASSERT_TRUE(client->socket->connectToUrl(url, 5, &error)) << error->description();
    ASSERT_TRUE(client->waitFor([&] { return client->reads.size() == 1; }));
    EXPECT_EQ(client->reads[0], "<tvx>hello</tvx>");
    EXPECT_EQ(client->url, url);
    EXPECT_EQ(client->host, "");
    EXPECT_EQ(client->socket->connectedUrl(), url);
    EXPECT_FALSE(client->socket->isIPv4());

    // A second listener on the same path replaces the socket left there; closing removes it.
    server->listener->disconnect();
    EXPECT_FALSE(exists(path));
    ASSERT_EQ(::close(::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600)), 0);
    EXPECT_FALSE(server->listener->acceptOnUrl(url, &error));
    ::unlink(path.c_str());
    ASSERT_TRUE(server->listener->acceptOnUrl(url, &error)) << error->description();
    auto stale = GCDAsyncSocket::initWithDelegate(server, server->queue);
    EXPECT_TRUE(stale->acceptOnUrl(url, &error)) << error->description();  // the socket file is removed first
    stale->disconnect();
    server->listener->disconnect();
}

TEST(SocketUnixDomain, ListeningErrors) {
    auto server = EchoServer::make(plain());
    const std::string file = tempPath("a-regular-file");
    { std::ofstream(file) << "keep me"; }
    const std::string bad =
        "Invalid unix domain url. Specify a valid file url that does not exist (e.g. \"file:///tmp/socket\")";
    struct Case {
        const char* name;
        std::string url;
        long code;
        std::string message;
    };
    const Case cases[] = {
        {"empty", "", 2, bad},
        {"not a file URL", "http://localhost/socket", 2, bad},
        {"no path", "file://", 2, bad},
        {"relative path", "file://tmp/socket", 2, bad},
        {"path too long", "file:///" + std::string(120, 'p'), 2, bad},
        {"a regular file at the path", "file://" + file, 8, "Could not remove previous unix domain socket at given url."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto listener = GCDAsyncSocket::initWithDelegate(server, server->queue);
        ErrorPtr error;
        EXPECT_FALSE(listener->acceptOnUrl(c.url, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, "GCDAsyncSocketErrorDomain");
        EXPECT_EQ(error->code, c.code);
        EXPECT_EQ(error->message, c.message);
        EXPECT_TRUE(listener->isDisconnected());
    }
    std::ifstream in(file);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "keep me");
    ::unlink(file.c_str());

    auto noDelegate = GCDAsyncSocket::initWithDelegate({}, server->queue);
    ErrorPtr error;
    EXPECT_FALSE(noDelegate->acceptOnUrl("file://" + tempPath("x.sock"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "Attempting to accept without a delegate. Set a delegate first.");
}

// A Unix-domain listener with a full queue refuses a non-blocking connect outright; the
// connect is tried again until the listener takes connections.
TEST(SocketUnixDomain, ConnectWaitsWhileTheListenQueueIsFull) {
    const std::string path = tempPath("full.sock");
    Bytes address = GCDAsyncSocket::getInterfaceAddressFromUrl("file://" + path);
    ASSERT_FALSE(address.empty());
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(address.data()), socklen_t(address.size())), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    int filler = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<const sockaddr*>(address.data()), socklen_t(address.size())), 0);

    auto client = Client::make();
    ASSERT_TRUE(client->socket->connectToUrl("file://" + path, 10));
    EXPECT_FALSE(client->waitFor([&] { return client->connects > 0 || !client->disconnects.empty(); }, 0.2));
    int first = ::accept(listener, nullptr, nullptr);  // the filler: room for the waiting connect
    EXPECT_TRUE(client->waitFor([&] { return client->connects == 1; }));
    EXPECT_TRUE(client->disconnects.empty());
    ::close(first);
    ::close(filler);
    ::close(listener);
    ::unlink(path.c_str());
}

TEST(SocketUnixDomain, ConnectingToAPathWhereNobodyListensFails) {
    auto client = Client::make();
    ASSERT_TRUE(client->socket->connectToUrl("file://" + tempPath("nobody.sock"), 5));
    ASSERT_TRUE(client->waitFor([&] { return client->disconnects.size() == 1; }));
    ASSERT_TRUE(client->disconnects[0]);
    EXPECT_EQ(client->disconnects[0]->code, ENOENT);
    EXPECT_EQ(socketErrorFailureReason(client->disconnects[0]), "Error in connect() function");
}

}  // namespace
}  // namespace telvo
