// Server-side TLS against real `openssl s_client` peers on 127.0.0.1 and ::1.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "SocketTestSupport.h"
#include "net/socket/TlsStatus.h"
#include "platform/time/Clock.h"

namespace telvo {
namespace {

using sockettest::EchoServer;
using sockettest::OpenSSLClient;
using sockettest::RawClient;

class SocketTLS : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(sockettest::testIdentityPEM().empty())
            << "could not make a test identity with the openssl tool (is openssl installed?)";
    }
};

std::vector<std::string> clientArguments(const std::string& host, uint16_t port, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"s_client", "-connect", host + ":" + std::to_string(port), "-no_ign_eof"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// One s_client session: two messages, each echoed, then a clean close.
void exchangeMessages(EchoServer& server, const std::string& host, uint16_t port, std::vector<std::string> extra,
                      const std::string& expectedProtocol) {
    OpenSSLClient client(clientArguments(host, port, std::move(extra)));
    ASSERT_TRUE(client.started()) << "could not start openssl s_client";
    ASSERT_TRUE(client.send("<tvx type=\"100\"/>one</tvx>\n"));
    ASSERT_TRUE(client.readUntil("one</tvx>")) << client.output() << client.errorOutput();
    ASSERT_TRUE(client.send("<tvx>two</tvx>\n"));
    ASSERT_TRUE(client.readUntil("two</tvx>")) << client.output() << client.errorOutput();
    EXPECT_NE(client.output().find("New, " + expectedProtocol + ", Cipher is"), std::string::npos) << client.output();
    client.finish();
    ASSERT_TRUE(server.waitFor([&] { return server.disconnects.size() == 1; }));
    std::lock_guard<std::mutex> lock(server.mutex);
    EXPECT_EQ(server.secured, 1);
    // The newline after each terminator opens the next message.
    EXPECT_EQ(server.reads, (std::vector<std::string>{"<tvx type=\"100\"/>one</tvx>", "\n<tvx>two</tvx>"}));
    ASSERT_TRUE(server.disconnects[0].error);
    EXPECT_EQ(server.disconnects[0].error->domain, "GCDAsyncSocketErrorDomain");
    EXPECT_EQ(server.disconnects[0].error->code, 7);  // the client closed
}

TEST_F(SocketTLS, ACloseAlertTakenWithNoReadCurrentClosesTheSocket) {
    // The peer sends its close alert and keeps its descriptor open (another process holding a
    // copy does that): no end of stream follows, so the alert alone must close the socket, even
    // when it arrives while no read is current and the session buffers' flush takes it.
    auto server = EchoServer::make({});
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    RawClient raw(AF_INET, port);
    ASSERT_TRUE(raw.isOpen());
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, raw.fd());
    ASSERT_EQ(SSL_connect(ssl), 1);
    ASSERT_TRUE(server->waitFor([&] { return server->secured == 1; }));

    // The delegate queue held: the message's read completes, and no next read is queued.
    server->queue->suspend();
    const std::string message = "<tvx>one</tvx>";
    ASSERT_EQ(SSL_write(ssl, message.data(), int(message.size())), int(message.size()));
    GCDAsyncSocketPtr connection;
    {
        std::lock_guard<std::mutex> lock(server->mutex);
        ASSERT_EQ(server->connections.size(), 1u);
        connection = server->connections[0];
    }
    // Bytes waiting on the server's end of the connection (on its queue, where the descriptor is
    // known); none once it has closed.
    auto waiting = [&] {
        int available = 0;
        connection->performBlock([&] {
            int fd = connection->socketFD();
            if (fd >= 0 && ioctl(fd, FIONREAD, &available) != 0) available = -1;
        });
        return available;
    };
    auto drained = [&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (waiting() != 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return waiting() == 0;
    };
    ASSERT_TRUE(drained());
    SSL_shutdown(ssl);  // the alert; the descriptor stays open
    ASSERT_TRUE(drained());
    server->queue->resume();

    EXPECT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }, 15))
        << "the close alert went unnoticed";
    std::lock_guard<std::mutex> lock(server->mutex);
    EXPECT_EQ(server->reads, (std::vector<std::string>{message}));
    if (!server->disconnects.empty()) {
        ASSERT_TRUE(server->disconnects[0].error);
        EXPECT_EQ(server->disconnects[0].error->code, 7);  // closed by the peer
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
}

TEST_F(SocketTLS, EchoesMessagesToOpenSSLClientOnIPv4) {
    auto server = EchoServer::make({});
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    exchangeMessages(*server, "127.0.0.1", port, {}, "TLSv1.3");
}

TEST_F(SocketTLS, EchoesMessagesToOpenSSLClientOnIPv6) {
    auto server = EchoServer::make({});
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    exchangeMessages(*server, "[::1]", port, {}, "TLSv1.3");
}

TEST_F(SocketTLS, MessagesSharingARecordOrSplitAcrossRecords) {
    auto server = EchoServer::make({});
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    OpenSSLClient client(clientArguments("127.0.0.1", port, {"-quiet"}));
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(server->waitFor([&] { return server->secured == 1; })) << client.errorOutput();
    ASSERT_TRUE(client.send("<tvx>a</tvx><tvx>b</tvx>"));  // one record
    ASSERT_TRUE(server->waitFor([&] { return server->reads.size() == 2; }));
    ASSERT_TRUE(client.send("<tvx>split</t"));
    ASSERT_TRUE(server->waitFor([&] { return server->partialReadBytes > 0; }));
    ASSERT_TRUE(client.send("vx>"));
    ASSERT_TRUE(server->waitFor([&] { return server->reads.size() == 3; }));
    EXPECT_EQ(server->reads, (std::vector<std::string>{"<tvx>a</tvx>", "<tvx>b</tvx>", "<tvx>split</tvx>"}));
    ASSERT_TRUE(client.readUntil("<tvx>split</tvx>"));
    EXPECT_EQ(client.output(), "<tvx>a</tvx><tvx>b</tvx><tvx>split</tvx>");
}

TEST_F(SocketTLS, MessageBeyondTheMaximumClosesWithCode6) {
    EchoServer::Options o;
    o.maxLength = 256;
    auto server = EchoServer::make(o);
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    OpenSSLClient client(clientArguments("127.0.0.1", port, {"-quiet", "-no_ign_eof"}));
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(client.send("<tvx>small</tvx>"));
    ASSERT_TRUE(client.readUntil("small</tvx>"));
    ASSERT_TRUE(client.send("<tvx>" + std::string(5000, 'x')));
    ASSERT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }));
    ASSERT_TRUE(server->disconnects[0].error);
    EXPECT_EQ(server->disconnects[0].error->domain, "GCDAsyncSocketErrorDomain");
    EXPECT_EQ(server->disconnects[0].error->code, 6);
    EXPECT_EQ(server->reads.size(), 1u);
}

TEST_F(SocketTLS, OldClientsStillConnectWithTheTLS10Minimum) {
    auto server = EchoServer::make({});
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    exchangeMessages(*server, "127.0.0.1", port, {"-tls1", "-cipher", "DEFAULT@SECLEVEL=0"}, "TLSv1.0");
}

TEST_F(SocketTLS, MinimumProtocolRefusesOlderClients) {
    EchoServer::Options o;
    o.tlsSettings = sockettest::serverTLSSettings();
    o.tlsSettings.set(GCDAsyncSocketSSLProtocolVersionMin, int(kTLSProtocol12));
    auto server = EchoServer::make(o);
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    OpenSSLClient client(clientArguments("127.0.0.1", port, {"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"}));
    ASSERT_TRUE(client.started());
    client.finish();
    ASSERT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }));
    ASSERT_TRUE(server->disconnects[0].error);
    EXPECT_EQ(server->disconnects[0].error->domain, "kCFStreamErrorDomainSSL");
    EXPECT_EQ(server->secured, 0);
}

TEST_F(SocketTLS, PlainTextClientIsClosedWithATLSError) {
    auto server = EchoServer::make({});
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    RawClient client(AF_INET, port);
    ASSERT_TRUE(client.isOpen());
    ASSERT_TRUE(client.send("<tvx type=\"100\" protocol=\"3\"/></tvx>\r\n"));
    EXPECT_TRUE(client.waitForClose());
    ASSERT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }));
    std::lock_guard<std::mutex> lock(server->mutex);
    ASSERT_TRUE(server->disconnects[0].error);
    EXPECT_EQ(server->disconnects[0].error->domain, "kCFStreamErrorDomainSSL");
    EXPECT_LT(server->disconnects[0].error->code, 0);
    EXPECT_NE(server->disconnects[0].error->code, tls::errSSLWouldBlock);
    EXPECT_EQ(socketErrorRecoverySuggestion(server->disconnects[0].error),
              "Error code definition can be found in Apple's SecureTransport.h");
    EXPECT_TRUE(server->reads.empty());  // the queued read never ran
}

TEST_F(SocketTLS, PeerClosingMidHandshakeGivesTheAbortStatus) {
    auto server = EchoServer::make({});
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    {
        RawClient client(AF_INET6, port);
        ASSERT_TRUE(client.isOpen());
        // The start of a TLS record carrying a ClientHello, then nothing more.
        ASSERT_TRUE(client.send(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)));
        ASSERT_TRUE(server->waitFor([&] { return server->accepted == 1; }));
    }
    ASSERT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }));
    ASSERT_TRUE(server->disconnects[0].error);
    EXPECT_EQ(server->disconnects[0].error->domain, "kCFStreamErrorDomainSSL");
    EXPECT_EQ(server->disconnects[0].error->code, tls::errSSLClosedAbort);
}

TEST_F(SocketTLS, RefusedSettingClosesBeforeAnyByte) {
    EchoServer::Options o;
    o.tlsSettings = sockettest::serverTLSSettings();
    o.tlsSettings.set(kCFStreamSSLLevel, "kCFStreamSocketSecurityLevelNegotiatedSSL");
    auto server = EchoServer::make(o);
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    RawClient client(AF_INET, port);
    ASSERT_TRUE(client.waitForClose());
    ASSERT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }));
    ASSERT_TRUE(server->disconnects[0].error);
    EXPECT_EQ(server->disconnects[0].error->code, 8);
    EXPECT_EQ(server->disconnects[0].error->message, "Security option unavailable - kCFStreamSSLLevel");
}

TEST_F(SocketTLS, UnusableIdentityClosesWithCertificateError) {
    EchoServer::Options o;
    o.tlsSettings = sockettest::serverTLSSettings();
    o.tlsSettings.set(kCFStreamSSLCertificates, ValueArray{Value::data("not a key")});
    auto server = EchoServer::make(o);
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    RawClient client(AF_INET, port);
    ASSERT_TRUE(client.waitForClose());
    ASSERT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }));
    ASSERT_TRUE(server->disconnects[0].error);
    EXPECT_EQ(server->disconnects[0].error->code, 8);
    EXPECT_EQ(server->disconnects[0].error->message, "Error in SSLSetCertificate");
}

// A large reply to a peer that reads slowly: the session takes chunks until it would block,
// the partial callback reports them, and the write completes once the peer drains. The reply
// is far larger than what the loopback path holds (the peer's receive window alone may take
// about 100000 bytes, and the peer drains it while the write goes on), so that the write
// has to wait however the peer is scheduled.
TEST_F(SocketTLS, LargeWriteToSlowReaderCompletes) {
    EchoServer::Options o;
    o.echo = false;
    auto server = EchoServer::make(o);
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    OpenSSLClient client(clientArguments("127.0.0.1", port, {"-quiet"}));
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(server->waitFor([&] { return server->secured == 1; })) << client.errorOutput();

    GCDAsyncSocketPtr connection;
    {
        std::lock_guard<std::mutex> lock(server->mutex);
        connection = server->connections.at(0);
    }
    // A small send buffer, so that the descriptor fills long before 100000 bytes.
    connection->performBlock([&] {
        int size = 4096;
        ::setsockopt(connection->socketFD(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    });
    std::string payload;
    const size_t size = 1000000;
    for (int i = 0; payload.size() < size; ++i) payload += "<s i=\"" + std::to_string(i) + "\"/>";
    payload.resize(size);
    connection->writeData(sockettest::bytes(payload), 120, 7);

    // Read a little at a time; the client blocks on its full output pipe in between.
    size_t got = 0;
    while (got < payload.size()) {
        size_t n = client.readSome(2048, 10);
        if (n == 0) break;
        got += n;
    }
    EXPECT_EQ(client.output(), payload);
    ASSERT_TRUE(server->waitFor([&] { return server->writesDone == 1; }));
    EXPECT_GT(server->partialWriteBytes, 0u);  // it did have to wait for the peer
    EXPECT_LT(server->partialWriteBytes, payload.size());
}

// The handshake has a deadline: a client that connects and sends nothing is dropped after
// 120 s (virtual time), with the read time-out error.
TEST_F(SocketTLS, SilentClientIsDroppedAtTheHandshakeDeadline) {
    platform::Clock::useVirtual(1.7e9);
    auto server = EchoServer::make({});
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    RawClient client(AF_INET, port);
    ASSERT_TRUE(client.isOpen());
    ASSERT_TRUE(server->waitFor([&] { return server->accepted == 1; }));
    GCDAsyncSocketPtr connection;
    {
        std::lock_guard<std::mutex> lock(server->mutex);
        connection = server->connections.at(0);
    }
    connection->performBlock([] {});  // the TLS start has run: its deadline is armed
    connection.reset();

    platform::Clock::advance(119);
    EXPECT_FALSE(server->waitFor([&] { return !server->disconnects.empty(); }, 0.2));
    platform::Clock::advance(2);
    ASSERT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }));
    ASSERT_TRUE(server->disconnects[0].error);
    EXPECT_EQ(server->disconnects[0].error->domain, "GCDAsyncSocketErrorDomain");
    EXPECT_EQ(server->disconnects[0].error->code, 4);
    EXPECT_TRUE(client.waitForClose());
    platform::Clock::useReal();
}

// After the handshake the first message has its own limit, counted from the handshake's end.
TEST_F(SocketTLS, FirstMessageLimitStartsAfterTheHandshake) {
    platform::Clock::useVirtual(1.7e9);
    auto server = EchoServer::make({});
    uint16_t port = server->listen();
    ASSERT_NE(port, 0);
    OpenSSLClient client(clientArguments("127.0.0.1", port));
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(server->waitFor([&] { return server->secured == 1; }));
    GCDAsyncSocketPtr connection;
    {
        std::lock_guard<std::mutex> lock(server->mutex);
        connection = server->connections.at(0);
    }
    // socketDidSecure queued the read from the delegate queue; wait until it is current.
    server->queue->sync([] {});
    connection->performBlock([] {});
    platform::Clock::advance(110);
    ASSERT_TRUE(client.send("<tvx>late but in time</tvx>"));
    ASSERT_TRUE(client.readUntil("in time</tvx>"));
    // The next read waits 600 s.
    server->queue->sync([] {});
    connection->performBlock([] {});
    connection.reset();
    platform::Clock::advance(599);
    EXPECT_FALSE(server->waitFor([&] { return !server->disconnects.empty(); }, 0.2));
    platform::Clock::advance(2);
    ASSERT_TRUE(server->waitFor([&] { return server->disconnects.size() == 1; }));
    EXPECT_EQ(server->disconnects[0].error->code, 4);
    platform::Clock::useReal();
}

}  // namespace
}  // namespace telvo
