#include "daemon/TVSKeychain.h"

#include <cstdio>

#include "platform/fs/Root.h"
#include "platform/keychain/SelfSignedIdentity.h"

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

// Diagnostic lines of the platform's system log (standard error), not the daemon log.
void NSLog(const std::string& line) {
    fprintf(stderr, "TelvoServerDaemon: %s\n", line.c_str());
    fflush(stderr);
}

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
    // The statuses are not checked: a keychain that cannot be opened or unlocked makes every
    // later operation fail with the status of its own call.
    if (!fs::exists(kKeychainPath)) keychain::Keychain::create(kKeychainPath, kKeychainPassword, nullptr);
    keychain_ = keychain::Keychain::open(kKeychainPath);
    keychain_->unlock(kKeychainPassword);
    keychain::Keychain::setUserInteractionAllowed(false);
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
    if (data.size() > 1023) data.resize(1023);
    if (auto zero = data.find('\0'); zero != std::string::npos) data.resize(zero);
    if (!isValidUTF8(data)) return std::nullopt;
    return data;
}

bool TVSKeychain::storeUsername(const std::optional<std::string>& account, const std::optional<std::string>& password,
                                const std::optional<std::string>& service, bool /*updateExisting*/, ErrorPtr* error) {
    // An existing item is always updated, whatever the flag says.
    unlock();
    if (missing(account) || missing(password) || missing(service)) {
        if (error) *error = makeError(kErrorDomain, kMissingArgument, "Missing account, password or service name");
        return false;
    }
    ErrorPtr lookupError;
    keychain::ItemRef item = getKeychainItemReferenceForUsername(account, service, &lookupError);
    if (lookupError && lookupError->code != 0) {
        if (error) *error = lookupError;
        return false;
    }
    if (error) error->reset();
    keychain::OSStatus status = item ? keychain_->modifyPasswordData(item, *password)
                                     : keychain_->addGenericPassword(*service, *account, *password);
    if (status != keychain::errSecSuccess) {
        if (error) *error = statusError(status);
        return false;
    }
    return true;
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
    if (keychain_->copyIdentities(&identities) != keychain::errSecSuccess) return result;
    for (const auto& identity : identities) {
        if (identity.label.rfind(kIdentityLabelPrefix, 0) == 0 && result.empty()) result.push_back(identity);
    }
    return result;
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
