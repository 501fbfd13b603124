#pragma once
// The daemon's private keychain: the passcode (generic password "TelvoServer"/"passcode") and
// the TLS identity every client session presents, in a keychain file of its own that is
// created on first use and unlocked before every operation. Errors have the domain
// "TVSKeychain"; -2000 means a required argument was missing, any other code is the status
// of the keychain call that failed.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include "platform/Error.h"
#include "platform/keychain/Keychain.h"

namespace telvo {

class TVSKeychain {
public:
    static constexpr const char* kKeychainPath = "/Library/Application Support/Telvo Server/TelvoServer.keychain";
    static constexpr const char* kErrorDomain = "TVSKeychain";
    static constexpr long kMissingArgument = -2000;
    // Label prefix by which the daemon's identity is recognised.
    static constexpr const char* kIdentityLabelPrefix = "TelvoServer2";

    // Created once, safely against concurrent first calls; creating it opens the keychain.
    static TVSKeychain& sharedKeychain();
    // Forgets the instance; the next sharedKeychain() opens the file again.
    static void resetForTesting();

    // An argument that is missing (std::nullopt) or empty counts as missing.
    std::optional<std::string> getPasswordForUsername(const std::optional<std::string>& account,
                                                      const std::optional<std::string>& service, ErrorPtr* error);
    bool storeUsername(const std::optional<std::string>& account, const std::optional<std::string>& password,
                       const std::optional<std::string>& service, bool updateExisting, ErrorPtr* error);
    keychain::ItemRef getKeychainItemReferenceForUsername(const std::optional<std::string>& account,
                                                          const std::optional<std::string>& service, ErrorPtr* error);
    bool deleteItemForUsername(const std::optional<std::string>& account, const std::optional<std::string>& service,
                               ErrorPtr* error);

    // Empty, or the first identity whose key label begins with "TelvoServer2".
    std::vector<keychain::Identity> SSLIdentityAndCertificates();
    // Makes an identity for this installation (a new key and a self-signed certificate,
    // packed as PKCS#12 with the identity passphrase) and imports it.
    void createNewIdentity();

    static std::string stringForSecExternalFormat(int format);
    static std::string stringForSecExternalItemType(int type);

    keychain::KeychainPtr keychain() const { return keychain_; }

private:
    TVSKeychain();
    void unlock();

    keychain::KeychainPtr keychain_;
};

}  // namespace telvo
