#include "daemon/TVSKeychain.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/ServerLog.h"
#include "platform/fs/Root.h"
#include "platform/keychain/SelfSignedIdentity.h"
#include "platform/systemlog/SystemLog.h"

namespace telvo {

namespace {

constexpr const char* kKeychainPassword = "brimcolantu";
constexpr const char* kIdentityPassphrase = "quillbox";
constexpr int kFormatPKCS12 = 12;
constexpr int kItemTypeAggregate = 5;

std::mutex gInstanceMutex;
std::unique_ptr<TVSKeychain> gInstance;

bool missing(const std::optional<std::string>& s) { return !s || s->empty(); }

ErrorPtr statusError(keychain::OSStatus status) {
    return makeError(TVSKeychain::kErrorDomain, status, keychain::statusMessage(status));
}

bool isValidUTF8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80) n = 0;
        else if ((c >> 5) == 6) n = 1;
        else if ((c >> 4) == 14) n = 2;
        else if ((c >> 3) == 30) n = 3;
        else return false;
        if (n > s.size() - i - 1) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n + 1;
    }
    return true;
}

// Diagnostic lines of the system log, not the daemon log.
void NSLog(const std::string& line) { systemlog::write(line); }

}  // namespace

TVSKeychain& TVSKeychain::sharedKeychain() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) gInstance.reset(new TVSKeychain());
    return *gInstance;
}

void TVSKeychain::resetForTesting() {
    std::lock_guard lock(gInstanceMutex);
    gInstance.reset();
}

TVSKeychain::TVSKeychain() {
    keychain::OSStatus status = openFile();
    // A file that is there but cannot be unlocked or read (noise, a truncated copy, another
    // password) would leave the daemon without passcode and TLS identity for good: no client
    // could ever connect. It is kept aside for whoever wants to look at it and replaced.
    if (status != keychain::errSecSuccess && status != keychain::errSecNoSuchKeychain) replaceUnreadableFile(status);
    keychain::Keychain::setUserInteractionAllowed(false);
}

keychain::OSStatus TVSKeychain::openFile() {
    if (!fs::exists(kKeychainPath)) keychain::Keychain::create(kKeychainPath, kKeychainPassword, nullptr);
    keychain_ = keychain::Keychain::open(kKeychainPath);
    keychain::OSStatus status = keychain_->unlock(kKeychainPassword);
    // Reading the items tells a file whose records are damaged behind a good header.
    if (status == keychain::errSecSuccess) status = keychain_->copyIdentities(nullptr);
    return status;
}

void TVSKeychain::replaceUnreadableFile(keychain::OSStatus status) {
    const std::string reason = format("%@ (%d)", keychain::statusMessage(status), int(status));
    if (std::rename(fs::resolve(kKeychainPath).c_str(), fs::resolve(kInvalidKeychainPath).c_str()) != 0) {
        DLog("Keychain %@ cannot be read: %@; it cannot be kept aside as %@ either (%s), so the daemon has no "
             "passcode and no TLS identity",
             kKeychainPath, reason, kInvalidKeychainPath, std::strerror(errno));
        return;
    }
    status = openFile();
    if (status == keychain::errSecSuccess) createNewIdentity();
    DLog("Keychain %@ cannot be read: %@; kept as %@, a new keychain %@ with a new TLS identity and a new "
         "passcode",
         kKeychainPath, reason, kInvalidKeychainPath,
         status == keychain::errSecSuccess ? std::string("was made")
                                           : format("could not be made (%@)", keychain::statusMessage(status)));
}

void TVSKeychain::unlock() { keychain_->unlock(kKeychainPassword); }

keychain::ItemRef TVSKeychain::getKeychainItemReferenceForUsername(const std::optional<std::string>& account,
                                                                   const std::optional<std::string>& service,
                                                                   ErrorPtr* error) {
    if (missing(account) || missing(service)) {
        if (error) *error = makeError(kErrorDomain, kMissingArgument, "Missing account or service name");
        return {};
    }
    if (error) error->reset();
    keychain::ItemRef item;
    keychain::OSStatus status = keychain_->findGenericPassword(*service, *account, &item);
    if (status == keychain::errSecItemNotFound) return {};
    if (status != keychain::errSecSuccess) {
        if (error) *error = statusError(status);
        return {};
    }
    return item;
}

std::optional<std::string> TVSKeychain::getPasswordForUsername(const std::optional<std::string>& account,
                                                               const std::optional<std::string>& service,
                                                               ErrorPtr* error) {
    unlock();
    if (missing(account) || missing(service)) {
        if (error) *error = makeError(kErrorDomain, kMissingArgument, "Missing account or service name");
        return std::nullopt;
    }
    {
        // A password whose write failed is the one in effect.
        std::lock_guard lock(pendingMutex_);
        auto it = pending_.find({*service, *account});
        if (it != pending_.end()) {
            if (error) error->reset();
            return it->second;
        }
    }
    ErrorPtr lookupError;
    keychain::ItemRef item = getKeychainItemReferenceForUsername(account, service, &lookupError);
    if (error) *error = lookupError;
    if (!item) return std::nullopt;
    std::string data;
    keychain::OSStatus status = keychain_->copyPasswordData(item, &data);
    if (status != keychain::errSecSuccess) {
        if (error) *error = statusError(status);
        return std::nullopt;
    }
    if (data.size() > kMaximumPasswordBytes) data.resize(kMaximumPasswordBytes);
    if (auto zero = data.find('\0'); zero != std::string::npos) data.resize(zero);
    if (!isValidUTF8(data)) return std::nullopt;
    return data;
}

keychain::OSStatus TVSKeychain::writePasswordLocked(const std::string& service, const std::string& account,
                                                    const std::string& password, ErrorPtr* error) {
    ErrorPtr lookupError;
    keychain::ItemRef item = getKeychainItemReferenceForUsername(account, service, &lookupError);
    if (lookupError && lookupError->code != 0) {
        if (error) *error = lookupError;
        return keychain::OSStatus(lookupError->code);
    }
    if (error) error->reset();
    keychain::OSStatus status = item ? keychain_->modifyPasswordData(item, password)
                                     : keychain_->addGenericPassword(service, account, password);
    if (status != keychain::errSecSuccess && error) *error = statusError(status);
    return status;
}

bool TVSKeychain::flushPendingLocked() {
    size_t waited = pending_.size() + (pendingIdentity_ ? 1 : 0);
    if (waited == 0) return true;
    if (pendingIdentity_) {
        keychain::OSStatus status = keychain_->importPKCS12(pendingArchive_, kIdentityPassphrase, nullptr);
        if (status != keychain::errSecSuccess && status != keychain::errSecDuplicateItem) return false;
        pendingIdentity_.reset();
        pendingArchive_.clear();
    }
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (writePasswordLocked(it->first.first, it->first.second, it->second, nullptr) != keychain::errSecSuccess)
            return false;
        it = pending_.erase(it);
    }
    if (writeFailing_) {
        writeFailing_ = false;
        DLog("Keychain %@ is written again; %ld value(s) kept in memory were stored", kKeychainPath, long(waited));
    }
    return true;
}

bool TVSKeychain::flushPendingWrites() {
    unlock();
    std::lock_guard lock(pendingMutex_);
    return flushPendingLocked();
}

bool TVSKeychain::hasPendingWrites() const {
    std::lock_guard lock(pendingMutex_);
    return !pending_.empty() || pendingIdentity_;
}

bool TVSKeychain::storeUsername(const std::optional<std::string>& account, const std::optional<std::string>& password,
                                const std::optional<std::string>& service, bool /*updateExisting*/, ErrorPtr* error) {
    // An existing item is always updated, whatever the flag says.
    unlock();
    if (missing(account) || missing(password) || missing(service)) {
        if (error) *error = makeError(kErrorDomain, kMissingArgument, "Missing account, password or service name");
        return false;
    }
    std::lock_guard lock(pendingMutex_);
    // This one replaces any value of the same item still waiting; the others go first.
    pending_.erase({*service, *account});
    flushPendingLocked();
    ErrorPtr writeError;
    keychain::OSStatus status = writePasswordLocked(*service, *account, *password, &writeError);
    if (error) *error = writeError;
    if (status == keychain::errSecSuccess) return true;
    // The value stays in effect, held in memory until a write succeeds.
    pending_[{*service, *account}] = *password;
    if (!writeFailing_) {
        writeFailing_ = true;
        DLog("Unable to write the keychain %@: %@ (%d); the value is kept in memory and written again at the next "
             "change and at the stop",
             kKeychainPath, keychain::statusMessage(status), int(status));
    }
    return false;
}

bool TVSKeychain::storeUsernameDurably(const std::optional<std::string>& account,
                                       const std::optional<std::string>& password,
                                       const std::optional<std::string>& service, ErrorPtr* error) {
    unlock();
    if (missing(account) || missing(password) || missing(service)) {
        if (error) *error = makeError(kErrorDomain, kMissingArgument, "Missing account, password or service name");
        return false;
    }
    std::lock_guard lock(pendingMutex_);
    // A value of the same item still waiting stays in effect until this one is in the file.
    flushPendingLocked();
    ErrorPtr writeError;
    keychain::OSStatus status = writePasswordLocked(*service, *account, *password, &writeError);
    if (error) *error = writeError;
    if (status != keychain::errSecSuccess) return false;
    pending_.erase({*service, *account});
    return true;
}

std::string TVSKeychain::whyPasswordWouldNotReadBack(const std::string& password) {
    if (password.size() > kMaximumPasswordBytes)
        return format("it is %ld bytes long, and at most %ld are kept", long(password.size()),
                      long(kMaximumPasswordBytes));
    if (password.find('\0') != std::string::npos) return "it holds a zero byte";
    if (!isValidUTF8(password)) return "it is not UTF-8 text";
    return {};
}

bool TVSKeychain::deleteItemForUsername(const std::optional<std::string>& account,
                                        const std::optional<std::string>& service, ErrorPtr* error) {
    unlock();
    ErrorPtr lookupError;
    keychain::ItemRef item = getKeychainItemReferenceForUsername(account, service, &lookupError);
    if (error) *error = lookupError;
    if (lookupError) return false;
    if (!item) return true;
    keychain::OSStatus status = keychain_->deleteItem(item);
    if (status != keychain::errSecSuccess) {
        if (error) *error = statusError(status);
        return false;
    }
    return true;
}

std::vector<keychain::Identity> TVSKeychain::SSLIdentityAndCertificates() {
    std::vector<keychain::Identity> result;
    unlock();
    std::vector<keychain::Identity> identities;
    keychain::OSStatus status = keychain_->copyIdentities(&identities);
    {
        std::lock_guard lock(pendingMutex_);
        if (pendingIdentity_) identities.push_back(*pendingIdentity_);
    }
    if (status != keychain::errSecSuccess && identities.empty()) return result;
    bool passedOver = false;
    for (const auto& identity : identities) {
        if (identity.label.rfind(kIdentityLabelPrefix, 0) != 0 || !result.empty()) continue;
        // Presenting an identity whose key does not open its certificate fails every handshake.
        if (isUsable(identity))
            result.push_back(identity);
        else
            passedOver = true;
    }
    if (passedOver && result.empty()) {
        std::lock_guard lock(pendingMutex_);
        if (!unusableIdentityLogged_)
            DLog("Keychain %@ holds no usable TLS identity (its key or certificate cannot be read); a new one is made",
                 kKeychainPath);
        unusableIdentityLogged_ = true;
    }
    return result;
}

bool TVSKeychain::isUsable(const keychain::Identity& identity) {
    {
        std::lock_guard lock(checkedMutex_);
        for (const auto& [known, usable] : checked_)
            if (known == identity) return usable;
    }
    const bool usable = keychain::isUsable(identity);
    std::lock_guard lock(checkedMutex_);
    if (checked_.size() >= kCheckedKept) checked_.clear();
    checked_.emplace_back(identity, usable);
    return usable;
}

void TVSKeychain::createNewIdentity() {
    unlock();
    ErrorPtr error;
    std::string archive = keychain::makeSelfSignedPKCS12("Telvo Server", std::string(kIdentityLabelPrefix) + " Server Identity",
                                                         kIdentityPassphrase, &error);
    std::vector<keychain::Identity> imported;
    keychain::OSStatus status =
        archive.empty() ? keychain::errSecAllocate : keychain_->importPKCS12(archive, kIdentityPassphrase, &imported);
    NSLog("OSStatus: " + std::to_string(status));
    NSLog("SecExternalFormat: " + stringForSecExternalFormat(kFormatPKCS12));
    NSLog("SecExternalItemType: " + stringForSecExternalItemType(status == keychain::errSecSuccess ? kItemTypeAggregate : 0));
    std::string items = "(";
    for (const auto& identity : imported) items += "\n    <SecIdentity \"" + identity.label + "\">";
    items += imported.empty() ? ")" : "\n)";
    NSLog("outItems: " + items);
    if (status == keychain::errSecSuccess) return;
    // An identity made but not stored (a full or read-only disk) still serves this run, and
    // is stored at the next change or at the stop.
    keychain::Identity identity;
    if (!archive.empty() && keychain::Keychain::readPKCS12(archive, kIdentityPassphrase, &identity) == keychain::errSecSuccess) {
        std::lock_guard lock(pendingMutex_);
        pendingIdentity_ = identity;
        pendingArchive_ = archive;
        if (!writeFailing_) {
            writeFailing_ = true;
            DLog("Unable to write the keychain %@: %@ (%d); the new TLS identity is kept in memory and written again "
                 "at the next change and at the stop",
                 kKeychainPath, keychain::statusMessage(status), int(status));
        }
    } else {
        DLog("Unable to make a TLS identity for the keychain %@: %@", kKeychainPath,
             error ? error->description() : std::string(keychain::statusMessage(status)));
    }
}

std::string TVSKeychain::stringForSecExternalFormat(int format) {
    static const char* names[] = {"kSecFormatUnknown",
                                  "kSecFormatOpenSSL",
                                  "kSecFormatSSH - Not Supported",
                                  "kSecFormatBSAFE",
                                  "kSecFormatRawKey",
                                  "kSecFormatWrappedPKCS8",
                                  "kSecFormatWrappedOpenSSL",
                                  "kSecFormatWrappedSSH - Not Supported",
                                  "kSecFormatWrappedLSH - Not Supported",
                                  "kSecFormatX509Cert",
                                  "kSecFormatPEMSequence",
                                  "kSecFormatPKCS7",
                                  "kSecFormatPKCS12",
                                  "kSecFormatNetscapeCertSequence"};
    return format >= 0 && format <= 13 ? names[format] : "Unknown";
}

std::string TVSKeychain::stringForSecExternalItemType(int type) {
    static const char* names[] = {"kSecItemTypeUnknown",    "kSecItemTypePrivateKey",  "kSecItemTypePublicKey",
                                  "kSecItemTypeSessionKey", "kSecItemTypeCertificate", "kSecItemTypeAggregate"};
    return type >= 0 && type <= 5 ? names[type] : "Unknown";
}

}  // namespace telvo
