#pragma once
// One TLS session (OpenSSL over two memory BIOs) with the contract the socket relies on: the
// session reads and writes only through the two functions it is given; every call answers a
// status (0, would block, graceful close, abort, or another failure; see TlsStatus.h); a
// write that would block has still taken its bytes and sends them on a later write with no
// bytes; the count of decrypted bytes it holds is known.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include "net/socket/GCDAsyncSocketDelegate.h"
#include "platform/values/Value.h"

typedef struct ssl_st SSL;
typedef struct bio_st BIO;
typedef struct x509_store_ctx_st X509_STORE_CTX;

namespace telvo {

class TlsEngine {
public:
    // Asked for up to *length encrypted bytes; sets *length to what it delivered.
    using ReadFunction = std::function<int32_t(uint8_t* buffer, size_t* length)>;
    // Offered *length encrypted bytes; sets *length to what it took.
    using WriteFunction = std::function<int32_t(const uint8_t* data, size_t* length)>;

    // Null when the session cannot be made.
    static std::unique_ptr<TlsEngine> create(bool isServer);
    ~TlsEngine();

    void setIOFuncs(ReadFunction read, WriteFunction write);

    // Settings; each answers 0 or a failure status.
    int32_t setCertificate(const ValueArray& certificates);
    int32_t setPeerDomainName(const std::string& name);
    int32_t setPeerID(const Bytes& peerID);
    int32_t setProtocolVersionMin(int64_t protocol);
    int32_t setProtocolVersionMax(int64_t protocol);
    // Options: 0 break when the server's certificate arrived (client), 3 false start,
    // 4 send one-byte records.
    int32_t setSessionOption(int option, bool value);
    int32_t setEnabledCiphers(const std::vector<uint16_t>& suites);
    int32_t setDiffieHellmanParams(const Bytes& parameters);

    // One handshake step: 0 done, would block, peer-auth-completed (client with the break
    // option), or the failure.
    int32_t handshake();
    // Reads until `length` bytes were delivered (0) or the session stops (its status);
    // *processed counts what was delivered either way.
    int32_t read(uint8_t* buffer, size_t length, size_t* processed);
    // Takes all `length` bytes (none: only flushes what is pending). 0 once everything taken
    // has gone out (*processed = length); would block when some is still pending
    // (*processed = 0; the bytes are kept).
    int32_t write(const uint8_t* data, size_t length, size_t* processed);
    // Decrypted bytes waiting, plus received bytes not yet decrypted.
    size_t bufferedReadSize() const;
    // Sends the close alert if it can; the session is finished afterwards.
    int32_t close();
    // The peer's certificates (DER), client side after peer-auth-completed.
    int32_t copyPeerTrust(GCDAsyncSocketTrust* trust) const;
    // The negotiated protocol ("TLSv1.3" ...), "" before the handshake.
    std::string protocolName() const;

    static int verifyCallback(X509_STORE_CTX* ctx, void* arg);

private:
    TlsEngine() = default;
    int32_t flushOutput();
    // Pulls encrypted bytes through the read function into the session; answers the
    // function's status and whether anything came.
    int32_t pullInput(bool* gotBytes);
    int32_t statusForResult(int result);

    SSL* ssl_ = nullptr;
    BIO* input_ = nullptr;   // encrypted bytes from the peer, owned by ssl_
    BIO* output_ = nullptr;  // encrypted bytes to the peer, owned by ssl_
    ReadFunction read_;
    WriteFunction write_;
    bool isServer_ = false;
    bool breakOnServerAuth_ = false;
    bool trustAnswered_ = false;
    bool inputEnded_ = false;
    int32_t failed_ = 0;  // sticky failure status
};

}  // namespace telvo
