// Signing executables and bundles.
#include "platform/codesign/Signer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/codesign/CodeDirectory.h"
#include "platform/codesign/CodeFile.h"
#include "platform/codesign/ElfSection.h"
#include "platform/codesign/Status.h"
#include "platform/crypto/Digest.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::codesign {
namespace {

bool fail(ErrorPtr* error, int32_t status, const std::string& what) {
    if (error) *error = makeError("CodesignErrorDomain", status, what);
    return false;
}

}  // namespace

bool signExecutable(const std::string& path, const std::string& identifier, const SigningIdentity& identity,
                    uint32_t flags, ErrorPtr* error) {
    if (identifier.empty()) return fail(error, kStatusNotVerifiable, "no signing identifier");
    std::string bytes;
    if (!fs::readFile(path, bytes)) return fail(error, kStatusNoSuchCode, "cannot read " + path);
    SectionRange range;
    if (!findSignatureSection(bytes, range, error)) return false;
    CodeDirectory cd;
    cd.identifier = identifier;
    cd.flags = flags;
    cd.executableHash = executableDigest(bytes, range);
    std::string der, section;
    if (!signContent(cd.serialize(), identity, der, error)) return false;
    if (!makeSignatureBlob(der, range.size, section))
        return fail(error, kStatusSignatureFailed, "the signature does not fit the signature section");
    bytes.replace(range.offset, range.size, section);
    struct stat st{};
    unsigned mode = stat(fs::resolve(path).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0755;
    if (!fs::writeFileAtomically(path, bytes, mode)) return fail(error, kStatusNoSuchCode, "cannot write " + path);
    return true;
}

bool signBundle(const std::string& path, const std::string& identifier, const SigningIdentity& identity,
                uint32_t flags, ErrorPtr* error) {
    ErrorPtr perr;
    Value info = plist::readFile(path + "/Contents/Info.plist", &perr);
    const std::string executable = info["CFBundleExecutable"].string();
    if (executable.empty() || executable.find('/') != std::string::npos)
        return fail(error, kStatusNotVerifiable, "the bundle's Info.plist names no executable");
    CodeDirectory cd;
    cd.identifier = identifier.empty() ? info["CFBundleIdentifier"].string() : identifier;
    if (cd.identifier.empty()) return fail(error, kStatusNotVerifiable, "no signing identifier");
    cd.flags = flags;
    cd.executable = "Contents/MacOS/" + executable;
    CodeDescriptor bundle(::open(fs::resolve(path).c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    if (!bundle) return fail(error, kStatusNoSuchCode, "cannot open the bundle " + path);
    // No link on the way to the executable, nor the executable itself.
    uint64_t size = 0;
    std::string why;
    CodeDescriptor exe = openCodeFile(bundle.get(), cd.executable, kLargestExecutable, size, why);
    if (!exe || !executableFileDigest(exe.get(), size, cd.executableHash))
        return fail(error, kStatusNoSuchCode, "cannot read the bundle's executable: " + why);
    // The signature's folder is there before the seal, which takes it in.
    fs::removeFile(path + "/" + kBundleSignaturePath);
    if (!fs::createDirectories(path + "/Contents/_CodeSignature", 0755))
        return fail(error, kStatusNoSuchCode, "cannot make the bundle's signature folder");
    if (!sealBundleFiles(bundle.get(), cd.files, error)) return false;
    std::string der;
    if (!signContent(cd.serialize(), identity, der, error)) return false;
    if (!fs::writeFileAtomically(path + "/" + kBundleSignaturePath, der, 0644))
        return fail(error, kStatusNoSuchCode, "cannot write the bundle's signature");
    return true;
}

}  // namespace telvo::codesign
