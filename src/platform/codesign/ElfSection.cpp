// Locating and reading the signature section of ELF executables.
#include "platform/codesign/ElfSection.h"

#include <elf.h>
#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/codesign/Status.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::codesign {
namespace {

bool fail(ErrorPtr* error, const std::string& what) {
    if (error) *error = makeError("CodesignErrorDomain", kStatusBadObjectFormat, what);
    return false;
}

bool inside(uint64_t total, uint64_t offset, uint64_t size) { return offset <= total && size <= total - offset; }

// The section names of an executable are a few hundred bytes; more is refused.
constexpr uint64_t kLargestSectionNames = uint64_t(1) << 20;

// Bytes in memory.
struct ViewSource {
    std::string_view bytes;
    uint64_t size() const { return bytes.size(); }
    bool read(uint64_t offset, size_t length, void* out) const {
        if (!inside(bytes.size(), offset, length)) return false;
        std::memcpy(out, bytes.data() + offset, length);
        return true;
    }
};

// An opened file, read with pread.
struct FileSource {
    int fd;
    uint64_t length;
    uint64_t size() const { return length; }
    bool read(uint64_t offset, size_t count, void* out) const {
        if (!inside(length, offset, count)) return false;
        char* p = static_cast<char*>(out);
        while (count > 0) {
            ssize_t n = ::pread(fd, p, count, off_t(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            offset += uint64_t(n);
            count -= size_t(n);
        }
        return true;
    }
};

template <class Source>
bool findIn(const Source& src, std::string_view wanted, SectionRange& found, ErrorPtr* error) {
    Elf64_Ehdr eh;
    if (!src.read(0, sizeof eh, &eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0)
        return fail(error, "not an ELF file");
    if (eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB)
        return fail(error, "not a 64-bit little-endian ELF file");
    if (eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 || eh.e_shstrndx >= eh.e_shnum)
        return fail(error, "ELF file without usable section headers");
    if (!inside(src.size(), eh.e_shoff, uint64_t(eh.e_shnum) * sizeof(Elf64_Shdr)))
        return fail(error, "ELF section headers outside the file");
    Elf64_Shdr names;
    if (!src.read(eh.e_shoff + uint64_t(eh.e_shstrndx) * sizeof(Elf64_Shdr), sizeof names, &names))
        return fail(error, "ELF section headers cannot be read");
    if (names.sh_type != SHT_STRTAB || !inside(src.size(), names.sh_offset, names.sh_size))
        return fail(error, "ELF section names outside the file");
    if (names.sh_size > kLargestSectionNames) return fail(error, "ELF section names too large");
    std::string strtab(size_t(names.sh_size), '\0');
    if (!src.read(names.sh_offset, strtab.size(), strtab.data())) return fail(error, "ELF section names cannot be read");
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh;
        if (!src.read(eh.e_shoff + uint64_t(i) * sizeof(Elf64_Shdr), sizeof sh, &sh))
            return fail(error, "ELF section headers cannot be read");
        if (sh.sh_name >= strtab.size()) continue;
        std::string_view name = std::string_view(strtab).substr(sh.sh_name);
        size_t end = name.find('\0');
        if (end == std::string_view::npos) continue;
        if (name.substr(0, end) != wanted) continue;
        const bool signature = wanted == kSectionName;
        if (sh.sh_type == SHT_NOBITS || !inside(src.size(), sh.sh_offset, sh.sh_size) ||
            (signature && sh.sh_size < kBlobHeaderSize))
            return fail(error, signature ? std::string("ELF signature section is unusable")
                                         : "ELF section " + std::string(wanted) + " is unusable");
        found.offset = sh.sh_offset;
        found.size = sh.sh_size;
        return true;
    }
    if (error) {
        *error = wanted == kSectionName ? makeError("CodesignErrorDomain", kStatusUnsigned, "no signature section")
                                        : makeError("CodesignErrorDomain", kStatusBadObjectFormat,
                                                    "no section " + std::string(wanted));
    }
    return false;
}

}  // namespace

bool findSignatureSection(std::string_view elf, SectionRange& found, ErrorPtr* error) {
    return findIn(ViewSource{elf}, kSectionName, found, error);
}

bool findSignatureSection(int fd, uint64_t size, SectionRange& found, ErrorPtr* error) {
    return findIn(FileSource{fd, size}, kSectionName, found, error);
}

bool findSection(std::string_view elf, std::string_view name, SectionRange& found, ErrorPtr* error) {
    return findIn(ViewSource{elf}, name, found, error);
}

namespace {

// The embedded list of a section's text (NUL-padded).
Value propertyListOfSection(std::string_view text, std::string_view sectionName, ErrorPtr* error) {
    size_t end = text.find('\0');
    if (end != std::string_view::npos) {
        // Only padding may follow the text.
        if (text.substr(end).find_first_not_of('\0') != std::string_view::npos) {
            fail(error, "ELF section " + std::string(sectionName) + " holds more than one text");
            return Value();
        }
        text = text.substr(0, end);
    }
    ErrorPtr parseError;
    Value list = plist::parse(std::string(text), &parseError);
    if (parseError || !list.isDictionary()) {
        fail(error, "ELF section " + std::string(sectionName) + " holds no property-list dictionary");
        return Value();
    }
    return list;
}

// An embedded property list is a few kilobytes; a larger section is refused.
constexpr uint64_t kLargestEmbeddedList = uint64_t(1) << 20;

}  // namespace

Value readEmbeddedPropertyList(std::string_view elf, std::string_view sectionName, ErrorPtr* error) {
    SectionRange range;
    if (!findSection(elf, sectionName, range, error)) return Value();
    if (range.size > kLargestEmbeddedList) {
        fail(error, "ELF section " + std::string(sectionName) + " is too large");
        return Value();
    }
    return propertyListOfSection(elf.substr(range.offset, range.size), sectionName, error);
}

Value readEmbeddedPropertyListFromFile(const std::string& path, std::string_view sectionName, ErrorPtr* error) {
    const std::string host = fs::resolve(path);
    int fd = ::open(host.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = makeError("NSPOSIXErrorDomain", errno, path + ": " + std::strerror(errno));
        return Value();
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(error, path + " is no regular file");
        return Value();
    }
    // Only the headers, the section names and the section itself are read.
    FileSource source{fd, uint64_t(st.st_size)};
    SectionRange range;
    Value list;
    if (findIn(source, sectionName, range, error)) {
        if (range.size > kLargestEmbeddedList) {
            fail(error, "ELF section " + std::string(sectionName) + " is too large");
        } else {
            std::string text(size_t(range.size), '\0');
            if (source.read(range.offset, text.size(), text.data())) {
                list = propertyListOfSection(text, sectionName, error);
            } else {
                fail(error, "ELF section " + std::string(sectionName) + " cannot be read");
            }
        }
    }
    ::close(fd);
    return list;
}

bool readSignatureBlob(std::string_view section, std::string& der) {
    der.clear();
    if (section.find_first_not_of('\0') == std::string_view::npos) return true;
    if (section.size() < kBlobHeaderSize || section.substr(0, 4) != "TCS1") return false;
    const auto* p = reinterpret_cast<const unsigned char*>(section.data()) + 4;
    uint64_t length = (uint64_t(p[0]) << 24) | (uint64_t(p[1]) << 16) | (uint64_t(p[2]) << 8) | p[3];
    if (length == 0 || length > section.size() - kBlobHeaderSize) return false;
    // What follows the blob must stay zero, so a section cannot carry hidden bytes.
    if (section.substr(kBlobHeaderSize + length).find_first_not_of('\0') != std::string_view::npos) return false;
    der.assign(section.substr(kBlobHeaderSize, length));
    return true;
}

bool makeSignatureBlob(const std::string& der, size_t sectionSize, std::string& section) {
    if (der.empty() || sectionSize < kBlobHeaderSize || der.size() > sectionSize - kBlobHeaderSize) return false;
    section.assign(sectionSize, '\0');
    std::memcpy(section.data(), "TCS1", 4);
    uint32_t n = uint32_t(der.size());
    section[4] = char(n >> 24);
    section[5] = char(n >> 16);
    section[6] = char(n >> 8);
    section[7] = char(n);
    std::memcpy(section.data() + kBlobHeaderSize, der.data(), der.size());
    return true;
}

std::string executableDigest(std::string_view elf, const SectionRange& section) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    uint64_t start = std::min<uint64_t>(section.offset, elf.size());
    uint64_t end = std::min<uint64_t>(section.offset + section.size, elf.size());
    EVP_DigestUpdate(ctx, elf.data(), start);
    static const char kZeros[4096] = {};
    for (uint64_t left = end - start; left > 0;) {
        uint64_t n = std::min<uint64_t>(left, sizeof(kZeros));
        EVP_DigestUpdate(ctx, kZeros, n);
        left -= n;
    }
    EVP_DigestUpdate(ctx, elf.data() + end, elf.size() - end);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    EVP_DigestFinal_ex(ctx, out, &size);
    EVP_MD_CTX_free(ctx);
    return std::string(reinterpret_cast<char*>(out), size);
}

}  // namespace telvo::codesign
