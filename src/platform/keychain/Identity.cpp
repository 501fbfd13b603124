#include "platform/keychain/Identity.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace telvo::keychain {

bool isUsable(const Identity& identity) {
    BIO* keyBio = BIO_new_mem_buf(identity.privateKeyPEM.data(), int(identity.privateKeyPEM.size()));
    BIO* certBio = BIO_new_mem_buf(identity.certificatePEM.data(), int(identity.certificatePEM.size()));
    EVP_PKEY* key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr;
    X509* cert = certBio ? PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr) : nullptr;
    bool usable = key && cert && X509_check_private_key(cert, key) == 1;
    ERR_clear_error();  // a mismatch leaves its reason on the thread's error queue
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    return usable;
}

}  // namespace telvo::keychain
