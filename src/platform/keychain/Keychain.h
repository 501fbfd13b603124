#pragma once
// A keychain file of one's own: generic-password items addressed by service and account, and
// TLS identities, kept in one file (mode 0600) whose contents are encrypted with a key derived
// from the keychain's password. Operations answer the statuses of KeychainStatus.h. Nothing
// here ever asks a user anything: where the platform would prompt, the status is
// errSecInteractionNotAllowed. The decrypted records are kept while the file stays as it was
// (the same file, size and change times, last modified longer before it was read than its
// time stamps' step, within which it might change again unseen), so that a lookup costs a
// stat(), not a read and a decryption.
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>
#include "platform/keychain/Identity.h"
#include "platform/keychain/KeychainStatus.h"

namespace telvo::keychain {

class Keychain;
using KeychainPtr = std::shared_ptr<Keychain>;

// A reference to one generic-password item of a keychain.
struct ItemRef {
    uint64_t id = 0;
    explicit operator bool() const { return id != 0; }
};

class Keychain {
public:
    // Creates a new, empty keychain file at `path` (resolved under the file-system root; its
    // folder is created when missing) locked with `password`, and answers it unlocked.
    // errSecDuplicateKeychain when a file is already there.
    static OSStatus create(const std::string& path, const std::string& password, KeychainPtr* out);
    // A handle on the keychain file at `path`. It succeeds whether or not the file exists;
    // later operations answer errSecNoSuchKeychain while it does not.
    static KeychainPtr open(const std::string& path);

    // Unlocks with the password: errSecAuthFailed when it does not open the file,
    // errSecNoSuchKeychain / errSecDecode for a missing or damaged file.
    OSStatus unlock(const std::string& password);
    void lock();
    bool isUnlocked() const;

    // Whether operations may prompt the user (never, here; a locked keychain then answers
    // errSecInteractionNotAllowed). Process-wide, as on the platform.
    static void setUserInteractionAllowed(bool allowed);
    static bool userInteractionAllowed();

    // Generic passwords.
    OSStatus findGenericPassword(const std::string& service, const std::string& account, ItemRef* item);
    OSStatus copyPasswordData(ItemRef item, std::string* data);
    OSStatus addGenericPassword(const std::string& service, const std::string& account, const std::string& data);
    OSStatus modifyPasswordData(ItemRef item, const std::string& data);
    OSStatus deleteItem(ItemRef item);

    // Imports a DER PKCS#12 archive protected by `passphrase`: its first private key with the
    // certificate that belongs to it becomes one identity, labelled with the key bag's
    // friendly name. errSecPkcs12VerifyFailure for a wrong passphrase, errSecDecode for bytes
    // that are no archive or hold no key with its certificate, errSecDuplicateItem when the
    // identity is already there. `imported` (when given) receives the identity.
    OSStatus importPKCS12(const std::string& der, const std::string& passphrase, std::vector<Identity>* imported);
    // Reads the identity of an archive as importPKCS12 does, without storing it.
    static OSStatus readPKCS12(const std::string& der, const std::string& passphrase, Identity* identity);
    // Every identity, in search order (the order they were imported in).
    OSStatus copyIdentities(std::vector<Identity>* identities);

    const std::string& path() const { return path_; }
    // How often the file was read and decrypted (tests and diagnostics).
    uint64_t fileReads() const;

    // What tells a change of the file without reading it.
    struct FileStamp {
        uint64_t device = 0, inode = 0;
        int64_t size = 0, modified = 0, changed = 0;  // times in nanoseconds
        bool operator==(const FileStamp&) const = default;
        static FileStamp of(const struct stat& st) {
            return {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                    int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                    int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
        }
    };

private:
    explicit Keychain(std::string path) : path_(std::move(path)) {}

    struct Item {
        uint64_t id;
        std::string service, account, data;
    };
    struct Contents {
        std::vector<Item> items;
        std::vector<Identity> identities;
        uint64_t nextID = 1;
    };

    // The records of the file, read and decrypted with the unlocked key unless the ones kept
    // are still those of the file; valid until the next operation. Caller holds mutex_.
    OSStatus loadLocked(const Contents*& contents);
    OSStatus saveLocked(const Contents& contents);
    OSStatus readyLocked();
    // Whether the records kept are those of the file as it is now.
    bool cacheFreshLocked() const;
    void keepLocked(Contents contents, const FileStamp& stamp);
    void dropCacheLocked();

    std::string path_;
    mutable std::mutex mutex_;
    bool unlocked_ = false;
    std::string password_;
    std::string salt_;
    std::string key_;  // derived from password_ and salt_
    Contents cache_;       // the records last read or written
    FileStamp cacheStamp_;  // of the file they came from
    bool cached_ = false;   // cache_ may answer while the file keeps cacheStamp_
    uint64_t fileReads_ = 0;
};

}  // namespace telvo::keychain
