#pragma once
// The daemon's private keychain: the passcode (generic password "TelvoServer"/"passcode") and
// the TLS identity every client session presents, in a keychain file of its own that is
// created on first use and unlocked before every operation. Errors have the domain
// "TVSKeychain"; -2000 means a required argument was missing, any other code is the status
// of the keychain call that failed.
//
// A keychain file that cannot be opened, unlocked or read is kept aside as
// "TelvoServer.keychain.invalid" and a new one is made in its place. A password whose write
// fails (a full or read-only disk) is kept in memory, answered from there, and written again
// at the next change and at the daemon's stop. The keychain's records are read from the file
// only when it changed (see keychain::Keychain), so that the passcode check and each session's
// identity cost no disk read.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include "platform/Error.h"
#include "platform/keychain/Keychain.h"

namespace telvo {

class TVSKeychain {
public:
    static constexpr const char* kKeychainPath = "/Library/Application Support/Telvo Server/TelvoServer.keychain";
    static constexpr const char* kErrorDomain = "TVSKeychain";
    static constexpr long kMissingArgument = -2000;
    // A password reads back as at most this many bytes, up to its first zero byte, and as none
    // when those bytes are not UTF-8.
    static constexpr size_t kMaximumPasswordBytes = 1023;
    // Label prefix by which the daemon's identity is recognised.
    static constexpr const char* kIdentityLabelPrefix = "TelvoServer2";
    // Where an unreadable keychain file is kept.
    static constexpr const char* kInvalidKeychainPath =
        "/Library/Application Support/Telvo Server/TelvoServer.keychain.invalid";

    // Created once, safely against concurrent first calls; creating it opens the keychain.
    static TVSKeychain& sharedKeychain();
    // Forgets the instance; the next sharedKeychain() opens the file again.
    static void resetForTesting();

    // An argument that is missing (std::nullopt) or empty counts as missing.
    std::optional<std::string> getPasswordForUsername(const std::optional<std::string>& account,
                                                      const std::optional<std::string>& service, ErrorPtr* error);
    bool storeUsername(const std::optional<std::string>& account, const std::optional<std::string>& password,
                       const std::optional<std::string>& service, bool updateExisting, ErrorPtr* error);
    // As storeUsername, all or nothing: true once the file holds the password. A password the
    // file does not take is not kept in memory; the one in effect before stays.
    bool storeUsernameDurably(const std::optional<std::string>& account, const std::optional<std::string>& password,
                              const std::optional<std::string>& service, ErrorPtr* error);
    // Why a password would not read back as it is (too long, a zero byte inside, not UTF-8),
    // or empty when it would.
    static std::string whyPasswordWouldNotReadBack(const std::string& password);
    keychain::ItemRef getKeychainItemReferenceForUsername(const std::optional<std::string>& account,
                                                          const std::optional<std::string>& service, ErrorPtr* error);
    bool deleteItemForUsername(const std::optional<std::string>& account, const std::optional<std::string>& service,
                               ErrorPtr* error);

    // Writes the passwords kept in memory after a failed write; answers whether none is left.
    bool flushPendingWrites();
    bool hasPendingWrites() const;

    // Empty, or the first usable identity whose key label begins with "TelvoServer2" (one
    // whose key or certificate cannot be read, or do not belong together, is passed over).
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
    // Opens the file; answers the status of the first step that failed.
    keychain::OSStatus openFile();
    // Keeps an unreadable file aside and makes a new keychain in its place.
    void replaceUnreadableFile(keychain::OSStatus status);
    // Writes one password item. Caller holds pendingMutex_.
    keychain::OSStatus writePasswordLocked(const std::string& service, const std::string& account,
                                           const std::string& password, ErrorPtr* error);
    bool flushPendingLocked();
    // keychain::isUsable, answered from the identities checked before (the answer depends on
    // the identity's key and certificate alone): every session presents the same one.
    bool isUsable(const keychain::Identity& identity);

    keychain::KeychainPtr keychain_;
    mutable std::mutex pendingMutex_;
    // Service and account -> password, for writes that failed.
    std::map<std::pair<std::string, std::string>, std::string> pending_;
    std::optional<keychain::Identity> pendingIdentity_;
    std::string pendingArchive_;
    bool writeFailing_ = false;
    bool unusableIdentityLogged_ = false;
    static constexpr size_t kCheckedKept = 8;
    std::mutex checkedMutex_;
    std::vector<std::pair<keychain::Identity, bool>> checked_;  // identities checked, and whether usable
};

}  // namespace telvo
