// The keychain file: "TVSKC001", a 16-byte salt, a 12-byte nonce, the AES-256-GCM ciphertext
// of the records and its 16-byte tag. The key is PBKDF2-HMAC-SHA256 of the password and salt.
#include "platform/keychain/Keychain.h"

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/fs/Root.h"

namespace telvo::keychain {

namespace {

constexpr char kMagic[] = "TVSKC001";
constexpr size_t kMagicLength = 8;
constexpr size_t kSaltLength = 16;
constexpr size_t kNonceLength = 12;
constexpr size_t kTagLength = 16;
constexpr int kIterations = 100000;

std::atomic<bool> gUserInteractionAllowed{true};

std::string folderOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string deriveKey(const std::string& password, const std::string& salt) {
    std::string key(32, '\0');
    PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), reinterpret_cast<const unsigned char*>(salt.data()),
                      int(salt.size()), kIterations, EVP_sha256(), int(key.size()),
                      reinterpret_cast<unsigned char*>(key.data()));
    return key;
}

void putU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}
void putString(std::string& out, const std::string& s) {
    putU32(out, uint32_t(s.size()));
    out += s;
}

struct Reader {
    const std::string& in;
    size_t pos = 0;
    bool ok = true;
    uint32_t u32() {
        if (in.size() - pos < 4) { ok = false; return 0; }
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(in[pos + i])) << (8 * i);
        pos += 4;
        return v;
    }
    std::string str() {
        uint32_t n = u32();
        if (!ok || in.size() - pos < n) { ok = false; return {}; }
        std::string s = in.substr(pos, n);
        pos += n;
        return s;
    }
};

bool aesGcm(bool encrypt, const std::string& key, const std::string& nonce, const std::string& aad,
            const std::string& in, std::string& out, std::string& tag) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx) return false;
    bool ok = false;
    int len = 0, total = 0;
    out.assign(in.size() + 16, '\0');
    auto* k = reinterpret_cast<const unsigned char*>(key.data());
    auto* n = reinterpret_cast<const unsigned char*>(nonce.data());
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    if (encrypt) {
        ok = EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, k, n) == 1 &&
             EVP_EncryptUpdate(ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(aad.data()), int(aad.size())) == 1 &&
             EVP_EncryptUpdate(ctx, o, &len, reinterpret_cast<const unsigned char*>(in.data()), int(in.size())) == 1;
        total = len;
        ok = ok && EVP_EncryptFinal_ex(ctx, o + total, &len) == 1;
        total += len;
        tag.assign(kTagLength, '\0');
        ok = ok && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, int(kTagLength), tag.data()) == 1;
    } else {
        ok = EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, k, n) == 1 &&
             EVP_DecryptUpdate(ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(aad.data()), int(aad.size())) == 1 &&
             EVP_DecryptUpdate(ctx, o, &len, reinterpret_cast<const unsigned char*>(in.data()), int(in.size())) == 1;
        total = len;
        ok = ok && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, int(kTagLength), tag.data()) == 1 &&
             EVP_DecryptFinal_ex(ctx, o + total, &len) == 1;
        total += len;
    }
    EVP_CIPHER_CTX_free(ctx);
    out.resize(ok ? size_t(total) : 0);
    return ok;
}

std::string randomBytes(size_t n) {
    std::string s(n, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(s.data()), int(n));
    return s;
}

struct FileHeader {
    std::string salt, nonce, ciphertext, tag;
};

// The state of the file by name; false (errno kept) when it cannot be looked at.
bool stampOf(const std::string& path, Keychain::FileStamp& stamp) {
    struct stat st {};
    if (::stat(fs::resolve(path).c_str(), &st) != 0) return false;
    stamp = Keychain::FileStamp::of(st);
    return true;
}

// errSecNoSuchKeychain when missing, errSecDecode when malformed. `stamp` is the state of the
// file that was read.
OSStatus readFile(const std::string& path, FileHeader& header, Keychain::FileStamp& stamp) {
    std::string raw;
    const int fd = ::open(fs::resolve(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return errno == ENOENT ? errSecNoSuchKeychain : errSecIO;
    struct stat st {};
    const bool read = ::fstat(fd, &st) == 0 && fs::readDescriptor(fd, raw);
    ::close(fd);
    if (!read) return errSecIO;
    stamp = Keychain::FileStamp::of(st);
    if (raw.size() < kMagicLength + kSaltLength + kNonceLength + kTagLength ||
        raw.compare(0, kMagicLength, kMagic) != 0)
        return errSecDecode;
    size_t p = kMagicLength;
    header.salt = raw.substr(p, kSaltLength);
    p += kSaltLength;
    header.nonce = raw.substr(p, kNonceLength);
    p += kNonceLength;
    header.ciphertext = raw.substr(p, raw.size() - p - kTagLength);
    header.tag = raw.substr(raw.size() - kTagLength);
    return errSecSuccess;
}

// The records of a decrypted file; false when they are damaged.
template <class Contents, class Item>
bool parseRecords(const std::string& plain, Contents& contents) {
    Reader r{plain};
    contents = Contents{};
    uint32_t next = r.u32();
    uint32_t count = r.u32();
    for (uint32_t i = 0; r.ok && i < count; ++i) {
        uint32_t kind = r.u32();
        if (kind == 1) {
            Item item;
            item.id = r.u32();
            item.service = r.str();
            item.account = r.str();
            item.data = r.str();
            contents.items.push_back(std::move(item));
        } else if (kind == 2) {
            Identity identity;
            identity.label = r.str();
            identity.privateKeyPEM = r.str();
            identity.certificatePEM = r.str();
            contents.identities.push_back(std::move(identity));
        } else {
            r.ok = false;
        }
    }
    if (!r.ok) return false;
    contents.nextID = next;
    return true;
}

std::string aadFor(const std::string& salt) { return std::string(kMagic, kMagicLength) + salt; }

}  // namespace

const char* statusMessage(OSStatus status) {
    switch (status) {
        case errSecSuccess: return "No error.";
        case errSecUnimplemented: return "Function or operation not implemented.";
        case errSecIO: return "I/O error.";
        case errSecParam: return "One or more parameters passed to a function were not valid.";
        case errSecAllocate: return "Failed to allocate memory.";
        case errSecWrPerm: return "Write permissions error.";
        case errSecPkcs12VerifyFailure: return "MAC verification failed during PKCS12 import (wrong password?)";
        case errSecNotAvailable: return "No keychain is available.";
        case errSecReadOnly: return "This keychain cannot be modified.";
        case errSecAuthFailed: return "The user name or passphrase you entered is not correct.";
        case errSecNoSuchKeychain: return "The specified keychain could not be found.";
        case errSecInvalidKeychain: return "The specified keychain is not a valid keychain file.";
        case errSecDuplicateKeychain: return "A keychain with the same name already exists.";
        case errSecDuplicateItem: return "The specified item already exists in the keychain.";
        case errSecItemNotFound: return "The specified item could not be found in the keychain.";
        case errSecInteractionNotAllowed: return "User interaction is not allowed.";
        case errSecDecode: return "Unable to decode the provided data.";
        default: return "Unknown error.";
    }
}

void Keychain::setUserInteractionAllowed(bool allowed) { gUserInteractionAllowed = allowed; }
bool Keychain::userInteractionAllowed() { return gUserInteractionAllowed; }

OSStatus Keychain::create(const std::string& path, const std::string& password, KeychainPtr* out) {
    if (fs::exists(path)) return errSecDuplicateKeychain;
    fs::createDirectories(folderOf(path), 0755);
    KeychainPtr keychain(new Keychain(path));
    {
        std::lock_guard lock(keychain->mutex_);
        keychain->salt_ = randomBytes(kSaltLength);
        keychain->password_ = password;
        keychain->key_ = deriveKey(password, keychain->salt_);
        keychain->unlocked_ = true;
        OSStatus status = keychain->saveLocked(Contents{});
        if (status != errSecSuccess) return status;
    }
    if (out) *out = keychain;
    return errSecSuccess;
}

KeychainPtr Keychain::open(const std::string& path) { return KeychainPtr(new Keychain(path)); }

bool Keychain::cacheFreshLocked() const {
    if (!cached_) return false;
    FileStamp now;
    return stampOf(path_, now) && now == cacheStamp_;
}

void Keychain::keepLocked(Contents contents, const FileStamp& stamp) {
    cache_ = std::move(contents);
    cacheStamp_ = stamp;
    // A file modified within one step of its file system's time stamps may change again in
    // place, to the same size, under the same stamp: the cache is trusted only for a file older
    // than that. Stamps in whole seconds (nothing below the second) may be two seconds apart;
    // finer ones move at least once a clock tick.
    constexpr int64_t kSecond = 1000000000;
    const int64_t step = stamp.modified % kSecond == 0 ? 2 * kSecond : kSecond / 10;
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    cached_ = int64_t(now.tv_sec) * kSecond + now.tv_nsec - stamp.modified > step;
}

void Keychain::dropCacheLocked() {
    cached_ = false;
    cache_ = Contents{};
}

OSStatus Keychain::unlock(const std::string& password) {
    std::lock_guard lock(mutex_);
    // Unlocked already with this password and the file unchanged since it was decrypted: the
    // answer reading it would give.
    if (unlocked_ && password == password_ && cacheFreshLocked()) return errSecSuccess;
    FileHeader header;
    FileStamp stamp;
    ++fileReads_;
    OSStatus status = readFile(path_, header, stamp);
    if (status != errSecSuccess) {
        dropCacheLocked();
        return status;
    }
    std::string key = (unlocked_ && password == password_ && header.salt == salt_) ? key_ : deriveKey(password, header.salt);
    std::string plain, tag = header.tag;
    if (!aesGcm(false, key, header.nonce, aadFor(header.salt), header.ciphertext, plain, tag)) {
        unlocked_ = false;
        dropCacheLocked();
        return errSecAuthFailed;
    }
    password_ = password;
    salt_ = header.salt;
    key_ = key;
    unlocked_ = true;
    Contents contents;
    if (parseRecords<Contents, Item>(plain, contents))
        keepLocked(std::move(contents), stamp);
    else
        dropCacheLocked();  // damaged records: every operation reads and reports them
    return errSecSuccess;
}

void Keychain::lock() {
    std::lock_guard lock(mutex_);
    unlocked_ = false;
    password_.clear();
    key_.clear();
    dropCacheLocked();
}

uint64_t Keychain::fileReads() const {
    std::lock_guard lock(mutex_);
    return fileReads_;
}

bool Keychain::isUnlocked() const {
    std::lock_guard lock(mutex_);
    return unlocked_;
}

OSStatus Keychain::readyLocked() {
    if (!fs::exists(path_)) return errSecNoSuchKeychain;
    if (!unlocked_) return gUserInteractionAllowed ? errSecAuthFailed : errSecInteractionNotAllowed;
    return errSecSuccess;
}

OSStatus Keychain::loadLocked(const Contents*& contents) {
    OSStatus status = readyLocked();
    if (status != errSecSuccess) return status;
    if (cacheFreshLocked()) {
        contents = &cache_;
        return errSecSuccess;
    }
    dropCacheLocked();
    FileHeader header;
    FileStamp stamp;
    ++fileReads_;
    status = readFile(path_, header, stamp);
    if (status != errSecSuccess) return status;
    if (header.salt != salt_) {  // replaced since the unlock: derive again with the password
        salt_ = header.salt;
        key_ = deriveKey(password_, salt_);
    }
    std::string plain, tag = header.tag;
    if (!aesGcm(false, key_, header.nonce, aadFor(header.salt), header.ciphertext, plain, tag)) {
        unlocked_ = false;
        return gUserInteractionAllowed ? errSecAuthFailed : errSecInteractionNotAllowed;
    }
    Contents read;
    if (!parseRecords<Contents, Item>(plain, read)) return errSecDecode;
    keepLocked(std::move(read), stamp);
    // Kept for this answer even when too fresh to be trusted for the next one.
    contents = &cache_;
    return errSecSuccess;
}

OSStatus Keychain::saveLocked(const Contents& contents) {
    std::string plain;
    putU32(plain, uint32_t(contents.nextID));
    putU32(plain, uint32_t(contents.items.size() + contents.identities.size()));
    for (const auto& item : contents.items) {
        putU32(plain, 1);
        putU32(plain, uint32_t(item.id));
        putString(plain, item.service);
        putString(plain, item.account);
        putString(plain, item.data);
    }
    for (const auto& identity : contents.identities) {
        putU32(plain, 2);
        putString(plain, identity.label);
        putString(plain, identity.privateKeyPEM);
        putString(plain, identity.certificatePEM);
    }
    std::string nonce = randomBytes(kNonceLength), cipher, tag;
    if (!aesGcm(true, key_, nonce, aadFor(salt_), plain, cipher, tag)) return errSecAllocate;
    std::string file = std::string(kMagic, kMagicLength) + salt_ + nonce + cipher + tag;
    if (!fs::writeFileAtomically(path_, file, 0600)) return errno == EACCES || errno == EROFS ? errSecWrPerm : errSecIO;
    ::chmod(fs::resolve(path_).c_str(), 0600);
    // What was written is what the next operation would read.
    FileStamp stamp;
    if (stampOf(path_, stamp))
        keepLocked(contents, stamp);
    else
        dropCacheLocked();
    return errSecSuccess;
}

OSStatus Keychain::findGenericPassword(const std::string& service, const std::string& account, ItemRef* item) {
    std::lock_guard lock(mutex_);
    const Contents* current = nullptr;
    OSStatus status = loadLocked(current);
    if (status != errSecSuccess) return status;
    const Contents& contents = *current;
    for (const auto& i : contents.items) {
        if (i.service == service && i.account == account) {
            if (item) item->id = i.id;
            return errSecSuccess;
        }
    }
    return errSecItemNotFound;
}

OSStatus Keychain::copyPasswordData(ItemRef item, std::string* data) {
    std::lock_guard lock(mutex_);
    const Contents* current = nullptr;
    OSStatus status = loadLocked(current);
    if (status != errSecSuccess) return status;
    const Contents& contents = *current;
    for (const auto& i : contents.items) {
        if (i.id == item.id) {
            if (data) *data = i.data;
            return errSecSuccess;
        }
    }
    return errSecItemNotFound;
}

OSStatus Keychain::addGenericPassword(const std::string& service, const std::string& account, const std::string& data) {
    std::lock_guard lock(mutex_);
    const Contents* current = nullptr;
    OSStatus status = loadLocked(current);
    if (status != errSecSuccess) return status;
    Contents contents = *current;
    for (const auto& i : contents.items)
        if (i.service == service && i.account == account) return errSecDuplicateItem;
    contents.items.push_back(Item{contents.nextID++, service, account, data});
    return saveLocked(contents);
}

OSStatus Keychain::modifyPasswordData(ItemRef item, const std::string& data) {
    std::lock_guard lock(mutex_);
    const Contents* current = nullptr;
    OSStatus status = loadLocked(current);
    if (status != errSecSuccess) return status;
    Contents contents = *current;
    for (auto& i : contents.items) {
        if (i.id == item.id) {
            i.data = data;
            return saveLocked(contents);
        }
    }
    return errSecItemNotFound;
}

OSStatus Keychain::deleteItem(ItemRef item) {
    std::lock_guard lock(mutex_);
    const Contents* current = nullptr;
    OSStatus status = loadLocked(current);
    if (status != errSecSuccess) return status;
    Contents contents = *current;
    for (auto it = contents.items.begin(); it != contents.items.end(); ++it) {
        if (it->id == item.id) {
            contents.items.erase(it);
            return saveLocked(contents);
        }
    }
    return errSecItemNotFound;
}

namespace {

std::string pemOfKey(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    std::string out;
    if (PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1) {
        char* p = nullptr;
        long n = BIO_get_mem_data(bio, &p);
        out.assign(p, size_t(n));
    }
    BIO_free(bio);
    return out;
}

std::string pemOfCertificate(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    std::string out;
    if (PEM_write_bio_X509(bio, cert) == 1) {
        char* p = nullptr;
        long n = BIO_get_mem_data(bio, &p);
        out.assign(p, size_t(n));
    }
    BIO_free(bio);
    return out;
}

struct Bags {
    EVP_PKEY* key = nullptr;
    std::string keyLabel;
    std::vector<X509*> certificates;
    ~Bags() {
        EVP_PKEY_free(key);
        for (auto* c : certificates) X509_free(c);
    }
};

void collectBags(const STACK_OF(PKCS12_SAFEBAG)* bags, const std::string& passphrase, Bags& out) {
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        int nid = PKCS12_SAFEBAG_get_nid(bag);
        if ((nid == NID_pkcs8ShroudedKeyBag || nid == NID_keyBag) && !out.key) {
            if (nid == NID_keyBag) {
                out.key = EVP_PKCS82PKEY(PKCS12_SAFEBAG_get0_p8inf(bag));
            } else {
                PKCS8_PRIV_KEY_INFO* p8 = PKCS12_decrypt_skey(bag, passphrase.data(), int(passphrase.size()));
                if (!p8) continue;
                out.key = EVP_PKCS82PKEY(p8);
                PKCS8_PRIV_KEY_INFO_free(p8);
            }
            if (!out.key) continue;
            char* name = PKCS12_get_friendlyname(const_cast<PKCS12_SAFEBAG*>(bag));
            if (name) {
                out.keyLabel = name;
                OPENSSL_free(name);
            }
        } else if (nid == NID_certBag && PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate) {
            if (X509* cert = PKCS12_SAFEBAG_get1_cert(bag)) out.certificates.push_back(cert);
        } else if (nid == NID_safeContentsBag) {
            collectBags(PKCS12_SAFEBAG_get0_safes(bag), passphrase, out);
        }
    }
}

}  // namespace

OSStatus Keychain::readPKCS12(const std::string& der, const std::string& passphrase, Identity* identity) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, long(der.size()));
    if (!p12) return errSecDecode;
    if (PKCS12_mac_present(p12) && PKCS12_verify_mac(p12, passphrase.data(), int(passphrase.size())) != 1) {
        PKCS12_free(p12);
        return errSecPkcs12VerifyFailure;
    }
    Bags bags;
    STACK_OF(PKCS7)* safes = PKCS12_unpack_authsafes(p12);
    for (int i = 0; safes && i < sk_PKCS7_num(safes); ++i) {
        PKCS7* p7 = sk_PKCS7_value(safes, i);
        int nid = OBJ_obj2nid(p7->type);
        STACK_OF(PKCS12_SAFEBAG)* list = nullptr;
        if (nid == NID_pkcs7_data)
            list = PKCS12_unpack_p7data(p7);
        else if (nid == NID_pkcs7_encrypted)
            list = PKCS12_unpack_p7encdata(p7, passphrase.data(), int(passphrase.size()));
        if (list) {
            collectBags(list, passphrase, bags);
            sk_PKCS12_SAFEBAG_pop_free(list, PKCS12_SAFEBAG_free);
        }
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    PKCS12_free(p12);

    X509* match = nullptr;
    for (auto* cert : bags.certificates)
        if (bags.key && X509_check_private_key(cert, bags.key) == 1) { match = cert; break; }
    if (!bags.key || !match) return errSecDecode;

    Identity read{bags.keyLabel, pemOfKey(bags.key), pemOfCertificate(match)};
    if (read.privateKeyPEM.empty() || read.certificatePEM.empty()) return errSecDecode;
    if (identity) *identity = std::move(read);
    return errSecSuccess;
}

OSStatus Keychain::importPKCS12(const std::string& der, const std::string& passphrase, std::vector<Identity>* imported) {
    std::lock_guard lock(mutex_);
    const Contents* current = nullptr;
    OSStatus status = loadLocked(current);
    if (status != errSecSuccess) return status;
    Contents contents = *current;
    Identity identity;
    status = readPKCS12(der, passphrase, &identity);
    if (status != errSecSuccess) return status;
    for (const auto& existing : contents.identities)
        if (existing.certificatePEM == identity.certificatePEM) return errSecDuplicateItem;
    contents.identities.push_back(identity);
    status = saveLocked(contents);
    if (status == errSecSuccess && imported) imported->push_back(identity);
    return status;
}

OSStatus Keychain::copyIdentities(std::vector<Identity>* identities) {
    std::lock_guard lock(mutex_);
    const Contents* current = nullptr;
    OSStatus status = loadLocked(current);
    if (status != errSecSuccess) return status;
    const Contents& contents = *current;
    if (identities) *identities = contents.identities;
    return errSecSuccess;
}

}  // namespace telvo::keychain
