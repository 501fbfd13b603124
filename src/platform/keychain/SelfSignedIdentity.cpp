#include "platform/keychain/SelfSignedIdentity.h"

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace telvo::keychain {

namespace {

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

}  // namespace

std::string makeSelfSignedPKCS12(const std::string& commonName, const std::string& label,
                                 const std::string& passphrase, ErrorPtr* error) {
    auto fail = [&](const char* what) {
        if (error) *error = makeError("TVSIdentity", -1, what);
        return std::string();
    };
    EVP_PKEY* key = EVP_RSA_gen(2048);
    if (!key) return fail("Unable to generate a key");
    X509* cert = X509_new();
    std::string result;
    do {
        X509_set_version(cert, 2);
        unsigned char serial[8];
        RAND_bytes(serial, sizeof serial);
        serial[0] &= 0x7f;
        BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
        BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
        BN_free(bn);
        X509_gmtime_adj(X509_getm_notBefore(cert), -86400L);
        X509_gmtime_adj(X509_getm_notAfter(cert), 20L * 365 * 86400);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        if (!addExtension(cert, NID_basic_constraints, "critical,CA:FALSE") ||
            !addExtension(cert, NID_key_usage, "critical,digitalSignature,keyEncipherment") ||
            !addExtension(cert, NID_ext_key_usage, "serverAuth") ||
            !addExtension(cert, NID_subject_key_identifier, "hash"))
            break;
        if (X509_sign(cert, key, EVP_sha256()) <= 0) break;
        PKCS12* p12 = PKCS12_create(passphrase.c_str(), label.c_str(), key, cert, nullptr, 0, 0, 0, 0, 0);
        if (!p12) break;
        unsigned char* der = nullptr;
        int n = i2d_PKCS12(p12, &der);
        if (n > 0) result.assign(reinterpret_cast<char*>(der), size_t(n));
        OPENSSL_free(der);
        PKCS12_free(p12);
    } while (false);
    X509_free(cert);
    EVP_PKEY_free(key);
    if (result.empty()) return fail("Unable to make the identity archive");
    return result;
}

}  // namespace telvo::keychain
