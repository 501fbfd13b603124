// CMS signatures of code directories over OpenSSL.
#include "platform/codesign/Cms.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "platform/codesign/Status.h"
#include "platform/fs/Root.h"

namespace telvo::codesign {
namespace {

struct Free {
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(CMS_ContentInfo* p) const { CMS_ContentInfo_free(p); }
    void operator()(X509_STORE* p) const { X509_STORE_free(p); }
    void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
    void operator()(STACK_OF(X509)* p) const { sk_X509_pop_free(p, X509_free); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

std::string lastOpenSSLError() {
    unsigned long e = ERR_peek_last_error();
    char buf[256] = "unknown error";
    if (e) ERR_error_string_n(e, buf, sizeof buf);
    ERR_clear_error();
    return buf;
}

std::string der(X509* cert) {
    unsigned char* p = nullptr;
    int n = i2d_X509(cert, &p);
    std::string out;
    if (n > 0) out.assign(reinterpret_cast<char*>(p), size_t(n));
    OPENSSL_free(p);
    return out;
}

X509* fromDer(const std::string& bytes) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    X509* cert = d2i_X509(nullptr, &p, long(bytes.size()));
    if (cert && p != reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

Owned<STACK_OF(X509)> pemStack(const std::string& pem) {
    Owned<STACK_OF(X509)> stack(sk_X509_new_null());
    for (const auto& d : pemCertificates(pem)) {
        if (X509* c = fromDer(d)) sk_X509_push(stack.get(), c);
    }
    return stack;
}

// The signer first, then each issuer found among `certs`, as far as the walk goes.
std::vector<std::string> orderedChain(X509* signer, STACK_OF(X509)* certs) {
    std::vector<std::string> chain;
    X509* current = signer;
    for (int depth = 0; current && depth < 16; ++depth) {
        chain.push_back(der(current));
        if (X509_check_issued(current, current) == X509_V_OK) break;
        X509* next = nullptr;
        for (int i = 0; certs && i < sk_X509_num(certs); ++i) {
            X509* c = sk_X509_value(certs, i);
            if (c != current && X509_check_issued(c, current) == X509_V_OK) {
                next = c;
                break;
            }
        }
        current = next;
    }
    return chain;
}

}  // namespace

std::vector<std::string> pemCertificates(const std::string& pem) {
    std::vector<std::string> out;
    Owned<BIO> bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
    while (X509* c = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        out.push_back(der(c));
        X509_free(c);
    }
    ERR_clear_error();
    return out;
}

bool SigningIdentity::load(const std::string& certificatePath, const std::string& keyPath,
                           const std::string& chainPath, SigningIdentity& out, ErrorPtr* error) {
    SigningIdentity id;
    auto missing = [&](const std::string& p) {
        if (error) *error = makeError("NSPOSIXErrorDomain", 2, "cannot read " + p);
        return false;
    };
    if (!fs::readFile(certificatePath, id.certificatePem)) return missing(certificatePath);
    if (!fs::readFile(keyPath, id.keyPem)) return missing(keyPath);
    if (!chainPath.empty() && !fs::readFile(chainPath, id.chainPem)) return missing(chainPath);
    out = std::move(id);
    return true;
}

bool signContent(const std::string& content, const SigningIdentity& identity, std::string& out, ErrorPtr* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = makeError("CodesignErrorDomain", kStatusSignatureFailed, what + ": " + lastOpenSSLError());
        return false;
    };
    Owned<BIO> certBio(BIO_new_mem_buf(identity.certificatePem.data(), int(identity.certificatePem.size())));
    Owned<X509> cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    if (!cert) return fail("cannot read the signing certificate");
    Owned<BIO> keyBio(BIO_new_mem_buf(identity.keyPem.data(), int(identity.keyPem.size())));
    Owned<EVP_PKEY> key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    if (!key) return fail("cannot read the signing key");
    if (X509_check_private_key(cert.get(), key.get()) != 1) return fail("the key does not belong to the certificate");
    Owned<STACK_OF(X509)> chain = pemStack(identity.chainPem);
    Owned<BIO> data(BIO_new_mem_buf(content.data(), int(content.size())));
    Owned<CMS_ContentInfo> cms(CMS_sign(cert.get(), key.get(), chain.get(), data.get(), CMS_BINARY));
    if (!cms) return fail("cannot sign");
    unsigned char* p = nullptr;
    int n = i2d_CMS_ContentInfo(cms.get(), &p);
    if (n <= 0) return fail("cannot encode the signature");
    out.assign(reinterpret_cast<char*>(p), size_t(n));
    OPENSSL_free(p);
    ERR_clear_error();
    return true;
}

int32_t verifyContent(const std::string& bytes, const std::vector<std::string>& anchors, VerifiedContent& out,
                      std::string& detail) {
    out = VerifiedContent();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    Owned<CMS_ContentInfo> cms(d2i_CMS_ContentInfo(nullptr, &p, long(bytes.size())));
    if (!cms || p != reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size() ||
        OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed || CMS_is_detached(cms.get())) {
        detail = "the signature is no CMS signed data with its content";
        ERR_clear_error();
        return kStatusNotVerifiable;
    }
    if (sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(cms.get())) != 1) {
        detail = "the signature must have exactly one signer";
        return kStatusNotVerifiable;
    }
    Owned<STACK_OF(X509)> certs(CMS_get1_certs(cms.get()));
    Owned<BIO> content(BIO_new(BIO_s_mem()));
    // The signature itself first; the chain is built below with our own rules.
    if (CMS_verify(cms.get(), nullptr, nullptr, nullptr, content.get(), CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1) {
        detail = "the signature does not match: " + lastOpenSSLError();
        STACK_OF(X509)* signers = CMS_get0_signers(cms.get());
        if (signers && sk_X509_num(signers) == 1) out.chain = orderedChain(sk_X509_value(signers, 0), certs.get());
        sk_X509_free(signers);
        return kStatusSignatureFailed;
    }
    STACK_OF(X509)* signers = CMS_get0_signers(cms.get());
    X509* leaf = signers && sk_X509_num(signers) == 1 ? sk_X509_value(signers, 0) : nullptr;
    if (!leaf) {
        sk_X509_free(signers);
        detail = "the signer's certificate is missing";
        return kStatusNotVerifiable;
    }
    X509_up_ref(leaf);
    Owned<X509> signer(leaf);
    sk_X509_free(signers);
    out.chain = orderedChain(signer.get(), certs.get());
    char* buf = nullptr;
    long n = BIO_get_mem_data(content.get(), &buf);
    std::string signedBytes(buf ? buf : "", size_t(n > 0 ? n : 0));

    Owned<X509_STORE> store(X509_STORE_new());
    int trusted = 0;
    for (const auto& a : anchors) {
        if (Owned<X509> c{fromDer(a)}; c && X509_STORE_add_cert(store.get(), c.get()) == 1) ++trusted;
    }
    ERR_clear_error();
    if (trusted == 0) {
        detail = "no anchors to trust";
        return kStatusUntrusted;
    }
    Owned<X509_STORE_CTX> ctx(X509_STORE_CTX_new());
    X509_STORE_CTX_init(ctx.get(), store.get(), signer.get(), certs.get());
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_ANY);
    if (X509_verify_cert(ctx.get()) != 1) {
        detail = std::string("the chain is not trusted: ") +
                 X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
        ERR_clear_error();
        return kStatusUntrusted;
    }
    Owned<STACK_OF(X509)> built(X509_STORE_CTX_get1_chain(ctx.get()));
    out.chain.clear();
    for (int i = 0; i < sk_X509_num(built.get()); ++i) out.chain.push_back(der(sk_X509_value(built.get(), i)));
    // No code-signing purpose in OpenSSL 3.0: the leaf must name code signing itself.
    if (!(X509_get_extension_flags(signer.get()) & EXFLAG_XKUSAGE) ||
        !(X509_get_extended_key_usage(signer.get()) & XKU_CODE_SIGN)) {
        detail = "the signing certificate is not for code signing";
        return kStatusUntrusted;
    }
    out.content = std::move(signedBytes);
    ERR_clear_error();
    return kStatusOK;
}

}  // namespace telvo::codesign
