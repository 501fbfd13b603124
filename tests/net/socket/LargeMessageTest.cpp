// Large messages over TLS, back to back: a peer whose records and TCP segments are cut in
// chosen sizes, so that a read step can end with the rest of a message already inside the
// TLS session (nothing left for the descriptor to report).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "SocketTestSupport.h"

namespace telvo {
namespace {

using sockettest::EchoServer;

// A blocking TLS client on 127.0.0.1 that encrypts into memory and then writes the bytes to
// the descriptor in pieces of its own choosing.
class ChunkingTLSClient {
public:
    explicit ChunkingTLSClient(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // A server that stops reading fails the send instead of holding the test.
        timeval limit{60, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        ctx_ = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
        ssl_ = SSL_new(ctx_);
        SSL_set_fd(ssl_, fd_);
        if (SSL_connect(ssl_) != 1) return;
        // From here on records go into memory; send() cuts them.
        output_ = BIO_new(BIO_s_mem());
        SSL_set0_wbio(ssl_, output_);
        connected_ = true;
    }
    ~ChunkingTLSClient() {
        if (ssl_) SSL_free(ssl_);
        if (ctx_) SSL_CTX_free(ctx_);
        if (fd_ != -1) ::close(fd_);
    }
    bool connected() const { return connected_; }

    // Encrypts `text` in records of at most `recordSize` bytes, then writes everything to the
    // descriptor `wireChunk` bytes at a time (0: in one go).
    bool send(const std::string& text, size_t recordSize, size_t wireChunk) {
        for (size_t at = 0; at < text.size(); at += recordSize) {
            const size_t n = std::min(recordSize, text.size() - at);
            if (SSL_write(ssl_, text.data() + at, int(n)) != int(n)) return false;
        }
        char* data = nullptr;
        const size_t length = size_t(BIO_get_mem_data(output_, &data));
        const size_t chunk = wireChunk ? wireChunk : length;
        for (size_t at = 0; at < length;) {
            const ssize_t n = ::send(fd_, data + at, std::min(chunk, length - at), MSG_NOSIGNAL);
            if (n <= 0) return false;
            at += size_t(n);
        }
        return BIO_reset(output_) == 1;
    }

private:
    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    BIO* output_ = nullptr;  // owned by ssl_
    bool connected_ = false;
};

std::string message(size_t size, char fill) {
    const std::string head = "<tvx type=\"103\">", tail = "</tvx>";
    return head + std::string(size - head.size() - tail.size(), fill) + tail;
}

// Several messages up to the daemon's 256 KiB each, sent one after the other without waiting
// for the server, each case cutting the stream differently: every one is read, whole and in
// order.
TEST(SocketLargeMessages, BackToBackLargeMessagesAreAllRead) {
    ASSERT_FALSE(sockettest::testIdentityPEM().empty())
        << "could not make a test identity with the openssl tool (is openssl installed?)";
    struct Case {
        size_t recordSize;
        size_t wireChunk;
    };
    const std::vector<Case> cases{
        {16384, 0},      // whole messages in full records
        {16384, 16406},  // about a record per segment
        {16384, 32769},  // just past the socket's read chunk
        {4093, 1000},    // odd records in small segments
        {997, 0},        // small records, all at once
        {30000, 7},      // a few bytes per segment
        {16384, 5},
        {4093, 13},
        {32768, 3},
    };
    const std::vector<size_t> sizes{100000, 240000, 262144, 60000, 100000, 32768, 32769, 262144};
    for (const Case& c : cases) {
        SCOPED_TRACE("records of " + std::to_string(c.recordSize) + ", segments of " + std::to_string(c.wireChunk));
        EchoServer::Options options;
        options.echo = false;
        options.maxLength = 262144;
        auto server = EchoServer::make(options);
        const uint16_t port = server->listen();
        ASSERT_NE(port, 0);
        ChunkingTLSClient client(port);
        ASSERT_TRUE(client.connected());
        std::vector<std::string> sent;
        for (size_t i = 0; i < sizes.size(); ++i) {
            sent.push_back(message(sizes[i], char('a' + i)));
            ASSERT_TRUE(client.send(sent.back(), c.recordSize, c.wireChunk)) << "message " << i;
        }
        ASSERT_TRUE(server->waitFor([&] { return server->reads.size() == sent.size() || !server->disconnects.empty(); },
                                    60))
            << server->reads.size() << " of " << sent.size() << " messages read";
        std::lock_guard<std::mutex> lock(server->mutex);
        EXPECT_TRUE(server->disconnects.empty());
        ASSERT_EQ(server->reads.size(), sent.size());
        for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(server->reads[i], sent[i]) << "message " << i;
    }
}

}  // namespace
}  // namespace telvo
