#include "net/socket/TlsEngine.h"

#include <openssl/bio.h>
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <mutex>

#include "net/socket/TlsStatus.h"

namespace telvo {
namespace {

// Encrypted bytes asked of the read function per pull: more than one full record.
constexpr size_t kPullSize = 32768;

SSL_CTX* sharedContext() {
    static SSL_CTX* ctx = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_method());
        if (c) {
            // A peer that ends the stream without a close alert reads as an aborted close
            // (OpenSSL's strict report is kept), a close alert as a graceful one.
            SSL_CTX_set_mode(c, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
            // An idle session keeps no record buffers: they are taken when bytes move and
            // given back when none wait.
            SSL_CTX_set_mode(c, SSL_MODE_RELEASE_BUFFERS);
            // No server-side session cache: nothing resumes sessions here, and anyone who
            // can reach the port could otherwise fill it.
            SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_OFF);
            // Clients verify nothing themselves; the callback only stops the handshake for
            // sessions that asked to evaluate the server's trust in their owner.
            SSL_CTX_set_cert_verify_callback(c, &TlsEngine::verifyCallback, nullptr);
        }
        return c;
    }();
    return ctx;
}

// The bytes moved between a session's memory buffers and its read and write functions pass
// through one buffer per thread, not one per session: idle sessions then hold none.
std::vector<uint8_t>& scratch(size_t size) {
    thread_local std::vector<uint8_t> buffer;
    if (buffer.size() < size) buffer.resize(size);
    return buffer;
}

int versionForProtocol(int64_t protocol) {
    switch (protocol) {
        case 2: return SSL3_VERSION;
        case 4: return TLS1_VERSION;
        case 7: return TLS1_1_VERSION;
        case 8: return TLS1_2_VERSION;
        case 10: return TLS1_3_VERSION;
        default: return -1;
    }
}

// The status for a failure in OpenSSL's error queue.
int32_t statusForErrorQueue() {
    unsigned long e = ERR_peek_last_error();
    if (e == 0) return tls::errSSLClosedAbort;
    int reason = ERR_GET_REASON(e);
    if (ERR_GET_LIB(e) == ERR_LIB_SSL) {
        if (reason == SSL_R_UNEXPECTED_EOF_WHILE_READING) return tls::errSSLClosedAbort;
        if (reason >= SSL_AD_REASON_OFFSET) return tls::errSSLFatalAlert;  // alert from the peer
        switch (reason) {
            case SSL_R_UNSUPPORTED_PROTOCOL:
            case SSL_R_WRONG_SSL_VERSION:
            case SSL_R_VERSION_TOO_LOW:
            case SSL_R_VERSION_TOO_HIGH:
            case SSL_R_NO_PROTOCOLS_AVAILABLE:
                return tls::errSSLPeerProtocolVersion;
            case SSL_R_NO_SHARED_CIPHER:
            case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
            case SSL_R_NO_CIPHERS_AVAILABLE:
                return tls::errSSLNegotiation;
            case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
                return tls::errSSLPeerBadRecordMac;
            case SSL_R_CERTIFICATE_VERIFY_FAILED:
                return tls::errSSLXCertChainInvalid;
            case SSL_R_UNEXPECTED_MESSAGE:
                return tls::errSSLPeerUnexpectedMsg;
            default:
                break;
        }
    }
    return tls::errSSLProtocol;
}

// PEM or DER parsing of one certificate or key.
X509* certificateFromBytes(const Bytes& b) {
    BIO* bio = BIO_new_mem_buf(b.data(), int(b.size()));
    X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    if (!x) {
        ERR_clear_error();
        const unsigned char* p = b.data();
        x = d2i_X509(nullptr, &p, long(b.size()));
    }
    BIO_free(bio);
    return x;
}

EVP_PKEY* keyFromBytes(const Bytes& b) {
    BIO* bio = BIO_new_mem_buf(b.data(), int(b.size()));
    EVP_PKEY* k = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    if (!k) {
        ERR_clear_error();
        const unsigned char* p = b.data();
        k = d2i_AutoPrivateKey(nullptr, &p, long(b.size()));
    }
    BIO_free(bio);
    return k;
}

}  // namespace

std::unique_ptr<TlsEngine> TlsEngine::create(bool isServer) {
    SSL_CTX* ctx = sharedContext();
    if (!ctx) return nullptr;
    std::unique_ptr<TlsEngine> engine(new TlsEngine());
    engine->ssl_ = SSL_new(ctx);
    if (!engine->ssl_) return nullptr;
    engine->isServer_ = isServer;
    engine->input_ = BIO_new(BIO_s_mem());
    engine->output_ = BIO_new(BIO_s_mem());
    if (!engine->input_ || !engine->output_) {
        BIO_free(engine->input_);
        BIO_free(engine->output_);
        engine->input_ = engine->output_ = nullptr;
        return nullptr;
    }
    // An empty input answers "retry" until the read function reports the end of the stream.
    BIO_set_mem_eof_return(engine->input_, -1);
    SSL_set_bio(engine->ssl_, engine->input_, engine->output_);
    if (isServer) {
        SSL_set_accept_state(engine->ssl_);
    } else {
        SSL_set_connect_state(engine->ssl_);
        SSL_set_verify(engine->ssl_, SSL_VERIFY_NONE, nullptr);
    }
    SSL_set_app_data(engine->ssl_, engine.get());
    return engine;
}

TlsEngine::~TlsEngine() {
    if (ssl_) SSL_free(ssl_);  // frees both BIOs
}

void TlsEngine::setIOFuncs(ReadFunction read, WriteFunction write) {
    read_ = std::move(read);
    write_ = std::move(write);
}

int32_t TlsEngine::setCertificate(const ValueArray& certificates) {
    ERR_clear_error();
    if (certificates.empty()) return tls::noErr;  // the handshake then fails for want of one
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    STACK_OF(X509)* chain = sk_X509_new_null();
    const Value& identity = certificates[0];
    if (identity.isData()) {
        const Bytes& b = identity.bytes();
        BIO* bio = BIO_new_mem_buf(b.data(), int(b.size()));
        key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        ERR_clear_error();
        // Certificates in the same text, in order: the first is the identity's.
        bio = BIO_new_mem_buf(b.data(), int(b.size()));
        while (X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
            if (!cert) cert = x;
            else sk_X509_push(chain, x);
        }
        BIO_free(bio);
        ERR_clear_error();
    } else if (identity.isDictionary() && identity.has("pkcs12")) {
        const Bytes& b = identity["pkcs12"].bytes();
        const unsigned char* p = b.data();
        PKCS12* p12 = d2i_PKCS12(nullptr, &p, long(b.size()));
        STACK_OF(X509)* ca = nullptr;
        if (p12) {
            std::string pass = identity["passphrase"].stringValue();
            PKCS12_parse(p12, pass.c_str(), &key, &cert, &ca);
            PKCS12_free(p12);
        }
        if (ca) {
            while (sk_X509_num(ca) > 0) sk_X509_push(chain, sk_X509_shift(ca));
            sk_X509_free(ca);
        }
    } else if (identity.isDictionary()) {
        key = keyFromBytes(identity["key"].bytes());
        cert = certificateFromBytes(identity["certificate"].bytes());
    }
    for (size_t i = 1; i < certificates.size(); ++i) {
        if (X509* x = certificates[i].isData() ? certificateFromBytes(certificates[i].bytes()) : nullptr)
            sk_X509_push(chain, x);
    }
    int32_t status = tls::errSecParam;
    if (cert && key && SSL_use_certificate(ssl_, cert) == 1 && SSL_use_PrivateKey(ssl_, key) == 1 &&
        SSL_check_private_key(ssl_) == 1) {
        status = tls::noErr;
        for (int i = 0; i < sk_X509_num(chain); ++i) {
            if (SSL_add1_chain_cert(ssl_, sk_X509_value(chain, i)) != 1) status = tls::errSecParam;
        }
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    sk_X509_pop_free(chain, X509_free);
    ERR_clear_error();
    return status;
}

int32_t TlsEngine::setPeerDomainName(const std::string& name) {
    if (isServer_) return tls::noErr;
    return SSL_set_tlsext_host_name(ssl_, name.c_str()) == 1 ? tls::noErr : tls::errSecParam;
}

int32_t TlsEngine::setPeerID(const Bytes& peerID) {
    // The peer identifier keys the session cache; OpenSSL's counterpart is the session id
    // context (at most 32 bytes).
    if (peerID.size() > SSL_MAX_SID_CTX_LENGTH) return tls::errSecParam;
    return SSL_set_session_id_context(ssl_, peerID.data(), unsigned(peerID.size())) == 1 ? tls::noErr
                                                                                         : tls::errSecParam;
}

int32_t TlsEngine::setProtocolVersionMin(int64_t protocol) {
    int version = versionForProtocol(protocol);
    if (version < 0 || SSL_set_min_proto_version(ssl_, version) != 1) return tls::errSecParam;
    // OpenSSL 3.0 turns TLS 1.0 and 1.1 off at security level 1 and above (Debian's default is
    // 2: their handshakes fail with "no suitable signature algorithm"). A minimum of TLS 1.0
    // or 1.1 is kept for old clients, so such a session runs at security level 0. The highest
    // version both sides have is still negotiated (the maximum stays TLS 1.3), and the cipher
    // list stays OpenSSL's DEFAULT, which has no NULL or anonymous suites.
    if (version < TLS1_2_VERSION) SSL_set_security_level(ssl_, 0);
    return tls::noErr;
}

int32_t TlsEngine::setProtocolVersionMax(int64_t protocol) {
    int version = versionForProtocol(protocol);
    if (version < 0 || SSL_set_max_proto_version(ssl_, version) != 1) return tls::errSecParam;
    return tls::noErr;
}

int32_t TlsEngine::setSessionOption(int option, bool value) {
    switch (option) {
        case 0:  // break on server authentication
            if (isServer_) return tls::errSecParam;
            breakOnServerAuth_ = value;
            return tls::noErr;
        case 3:  // false start: OpenSSL has none; the handshake completes as usual
            return tls::noErr;
        case 4:  // one-byte records: OpenSSL splits CBC records of TLS 1.0 itself
            if (value) SSL_clear_options(ssl_, SSL_OP_DONT_INSERT_EMPTY_FRAGMENTS);
            return tls::noErr;
        default:
            return tls::errSecParam;
    }
}

int TlsEngine::verifyCallback(X509_STORE_CTX* ctx, void*) {
    SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(ctx, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* engine = ssl ? static_cast<TlsEngine*>(SSL_get_app_data(ssl)) : nullptr;
    if (!engine || !engine->breakOnServerAuth_) return 1;  // no verification: trust is the owner's
    if (engine->trustAnswered_) return 1;
    SSL_set_retry_verify(ssl);
    return 1;
}

int32_t TlsEngine::setEnabledCiphers(const std::vector<uint16_t>& suites) {
    std::string list12, list13;
    for (uint16_t suite : suites) {
        unsigned char id[2] = {uint8_t(suite >> 8), uint8_t(suite & 0xff)};
        const SSL_CIPHER* c = SSL_CIPHER_find(ssl_, id);
        if (!c) continue;
        // TLS 1.3 suites (0x1301 to 0x1305) are configured apart from the older ones.
        uint16_t protocolID = SSL_CIPHER_get_protocol_id(c);
        std::string& list = protocolID >= 0x1301 && protocolID <= 0x1305 ? list13 : list12;
        if (!list.empty()) list += ":";
        list += SSL_CIPHER_get_name(c);
    }
    if (list12.empty() && list13.empty()) return tls::errSSLBadConfiguration;
    bool ok = true;
    if (!list12.empty()) ok = SSL_set_cipher_list(ssl_, list12.c_str()) == 1;
    if (ok) ok = SSL_set_ciphersuites(ssl_, list13.c_str()) == 1;
    ERR_clear_error();
    return ok ? tls::noErr : tls::errSSLBadConfiguration;
}

int32_t TlsEngine::setDiffieHellmanParams(const Bytes& parameters) {
    EVP_PKEY* dh = nullptr;
    OSSL_DECODER_CTX* dctx = OSSL_DECODER_CTX_new_for_pkey(&dh, nullptr, nullptr, "DH",
                                                           OSSL_KEYMGMT_SELECT_DOMAIN_PARAMETERS, nullptr, nullptr);
    const unsigned char* p = parameters.data();
    size_t len = parameters.size();
    bool ok = dctx && OSSL_DECODER_from_data(dctx, &p, &len) == 1 && dh;
    OSSL_DECODER_CTX_free(dctx);
    if (ok && SSL_set0_tmp_dh_pkey(ssl_, dh) != 1) {
        EVP_PKEY_free(dh);
        ok = false;
    } else if (!ok) {
        EVP_PKEY_free(dh);
    }
    ERR_clear_error();
    return ok ? tls::noErr : tls::errSecParam;
}

int32_t TlsEngine::flushOutput() {
    while (BIO_ctrl_pending(output_) > 0) {
        char* data = nullptr;
        size_t length = size_t(BIO_get_mem_data(output_, &data));
        int32_t status = write_ ? write_(reinterpret_cast<const uint8_t*>(data), &length) : tls::errSSLClosedAbort;
        if (length == 0) return status == tls::noErr ? tls::errSSLWouldBlock : status;
        // Consume what went out and try again: a partial write is progress.
        BIO_read(output_, scratch(length).data(), int(length));
    }
    return tls::noErr;
}

int32_t TlsEngine::pullInput(bool* gotBytes) {
    *gotBytes = false;
    if (inputEnded_) return tls::errSSLClosedAbort;
    std::vector<uint8_t>& buffer = scratch(kPullSize);
    size_t length = kPullSize;
    int32_t status = read_ ? read_(buffer.data(), &length) : tls::errSSLClosedAbort;
    if (length > 0) {
        BIO_write(input_, buffer.data(), int(length));
        *gotBytes = true;
    }
    if (status != tls::noErr && status != tls::errSSLWouldBlock && length == 0) {
        // The peer is gone: what is buffered is all there will be.
        inputEnded_ = true;
        BIO_set_mem_eof_return(input_, 0);
    }
    return status;
}

int32_t TlsEngine::statusForResult(int result) {
    int err = SSL_get_error(ssl_, result);
    switch (err) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            return tls::errSSLWouldBlock;
        case SSL_ERROR_WANT_RETRY_VERIFY:
            return tls::errSSLPeerAuthCompleted;
        case SSL_ERROR_ZERO_RETURN:
            return failed_ = tls::errSSLClosedGraceful;
        case SSL_ERROR_SYSCALL:
            return failed_ = inputEnded_ ? tls::errSSLClosedAbort : statusForErrorQueue();
        default:
            return failed_ = statusForErrorQueue();
    }
}

int32_t TlsEngine::handshake() {
    if (failed_) return failed_;
    bool awaitingTrust = SSL_want_retry_verify(ssl_);
    if (awaitingTrust) trustAnswered_ = true;  // the socket asks again only after a yes
    for (;;) {
        ERR_clear_error();
        int r = SSL_do_handshake(ssl_);
        int32_t status = r == 1 ? tls::noErr : statusForResult(r);
        if (status != tls::noErr && status != tls::errSSLWouldBlock) {
            if (status != tls::errSSLPeerAuthCompleted) flushOutput();  // the alert, if it can go
            return status;
        }
        int32_t out = flushOutput();
        if (out != tls::noErr) {
            if (out == tls::errSSLWouldBlock) return out;
            return failed_ = tls::errSSLClosedAbort;
        }
        if (status == tls::noErr) return tls::noErr;
        bool got = false;
        int32_t in = pullInput(&got);
        if (!got && in == tls::errSSLWouldBlock) return tls::errSSLWouldBlock;
        if (!got && in != tls::noErr && inputEnded_) {
            // One more step reads what is buffered and reports the close.
            ERR_clear_error();
            r = SSL_do_handshake(ssl_);
            if (r == 1) return flushOutput();
            int32_t last = statusForResult(r);
            return last == tls::errSSLWouldBlock ? (failed_ = tls::errSSLClosedAbort) : last;
        }
    }
}

int32_t TlsEngine::read(uint8_t* buffer, size_t length, size_t* processed) {
    *processed = 0;
    if (length == 0) return tls::noErr;
    if (failed_) return failed_;
    for (;;) {
        size_t n = 0;
        ERR_clear_error();
        int r = SSL_read_ex(ssl_, buffer + *processed, length - *processed, &n);
        if (r == 1) {
            *processed += n;
            if (*processed == length) return tls::noErr;
            continue;
        }
        int32_t status = statusForResult(r);
        if (status != tls::errSSLWouldBlock) return status;
        // Whatever the session has to say (a key update's answer) goes out first, if it can.
        int32_t out = flushOutput();
        if (out != tls::noErr && out != tls::errSSLWouldBlock) return failed_ = tls::errSSLClosedAbort;
        bool got = false;
        int32_t in = pullInput(&got);
        if (got) continue;
        if (in == tls::errSSLWouldBlock || in == tls::noErr) return tls::errSSLWouldBlock;
        // End of stream: one more read reports a close alert that was buffered, or the abort.
        ERR_clear_error();
        r = SSL_read_ex(ssl_, buffer + *processed, length - *processed, &n);
        if (r == 1) {
            *processed += n;
            if (*processed == length) return tls::noErr;
            continue;
        }
        status = statusForResult(r);
        return status == tls::errSSLWouldBlock ? (failed_ = tls::errSSLClosedAbort) : status;
    }
}

int32_t TlsEngine::write(const uint8_t* data, size_t length, size_t* processed) {
    *processed = 0;
    if (failed_) return failed_;
    if (length > 0) {
        size_t n = 0;
        ERR_clear_error();
        if (SSL_write_ex(ssl_, data, length, &n) != 1 || n != length) {
            int32_t status = statusForResult(0);
            if (status == tls::errSSLWouldBlock) status = failed_ = tls::errSSLInternal;
            return status;
        }
    }
    int32_t out = flushOutput();
    if (out == tls::noErr) {
        *processed = length;
        return tls::noErr;
    }
    if (out == tls::errSSLWouldBlock) return out;
    return failed_ = tls::errSSLClosedAbort;
}

size_t TlsEngine::bufferedReadSize() const {
    return size_t(SSL_pending(ssl_)) + (input_ ? BIO_ctrl_pending(input_) : 0);
}

int32_t TlsEngine::close() {
    if (!failed_ && SSL_is_init_finished(ssl_)) {
        ERR_clear_error();
        SSL_shutdown(ssl_);
        flushOutput();
    }
    ERR_clear_error();
    failed_ = tls::errSSLClosedGraceful;
    return tls::noErr;
}

int32_t TlsEngine::copyPeerTrust(GCDAsyncSocketTrust* trust) const {
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl_);
    if (!chain) return tls::errSSLBadCert;
    trust->certificates.clear();
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        unsigned char* der = nullptr;
        int len = i2d_X509(sk_X509_value(chain, i), &der);
        if (len <= 0) continue;
        trust->certificates.emplace_back(der, der + len);
        OPENSSL_free(der);
    }
    return tls::noErr;
}

std::string TlsEngine::protocolName() const {
    return SSL_is_init_finished(ssl_) ? SSL_get_version(ssl_) : "";
}

}  // namespace telvo
