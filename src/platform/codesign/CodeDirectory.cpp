// Code directories: their property-list form and the sealing of a bundle's files.
#include "platform/codesign/CodeDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/codesign/CodeFile.h"
#include "platform/codesign/Status.h"
#include "platform/crypto/Digest.h"
#include "platform/values/PropertyList.h"
#include "platform/values/Value.h"

namespace telvo::codesign {
namespace {

Value data(const std::string& s) { return Value::data(s); }
std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

bool bad(ErrorPtr* error, const std::string& what) {
    if (error) *error = makeError("CodesignErrorDomain", kStatusNotVerifiable, "malformed code directory: " + what);
    return false;
}

bool resourceError(ErrorPtr* error, const std::string& what) {
    if (error) *error = makeError("CodesignErrorDomain", kStatusResourcesInvalid, what);
    return false;
}

// Deeper bundles than this are refused: each level holds a descriptor.
constexpr int kDeepestFolder = 128;

struct Sealing {
    uint64_t total = 0;
};

bool tooMany(ErrorPtr* error) {
    return resourceError(error, "the bundle holds more than " + std::to_string(kMostBundleEntries) + " files and folders");
}

bool walk(int folder, const std::string& relative, std::vector<SealedFile>& files, Sealing& sealing, int depth,
          ErrorPtr* error) {
    if (depth > kDeepestFolder) return resourceError(error, relative + " lies too deep in the bundle");
    std::vector<std::string> names;
    {
        int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
        if (!dir) {
            if (listed >= 0) ::close(listed);
            return resourceError(error, "cannot read folder " + relative);
        }
        bool many = false;
        while (dirent* e = readdir(dir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            if (files.size() + names.size() >= kMostBundleEntries) {
                many = true;
                break;
            }
            names.emplace_back(e->d_name);
        }
        closedir(dir);
        if (many) return tooMany(error);
    }
    for (const auto& name : names) {
        const std::string r = relative + "/" + name;
        if (r == kBundleSignaturePath) continue;
        if (files.size() >= kMostBundleEntries) return tooMany(error);
        struct stat st{};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return resourceError(error, "cannot inspect " + r);
        SealedFile f;
        f.path = r;
        f.mode = st.st_mode & (S_IFMT | 07777);
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = ::readlinkat(folder, name.c_str(), target, sizeof target);
            if (n < 0 || size_t(n) >= sizeof target) return resourceError(error, "cannot read link " + r);
            f.link.assign(target, size_t(n));
            if (!linkStaysInBundle(r, f.link)) return resourceError(error, "the link " + r + " points outside the bundle (" + f.link + ")");
            files.push_back(std::move(f));
            continue;
        }
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return resourceError(error, "unsupported file type: " + r);
        const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (S_ISDIR(st.st_mode) ? O_DIRECTORY : 0);
        CodeDescriptor opened(::openat(folder, name.c_str(), flags));
        struct stat again{};
        if (!opened || ::fstat(opened.get(), &again) != 0 || again.st_dev != st.st_dev || again.st_ino != st.st_ino)
            return resourceError(error, r + " changed while the bundle was sealed");
        f.mode = again.st_mode & (S_IFMT | 07777);
        if (S_ISDIR(again.st_mode)) {
            files.push_back(f);
            if (!walk(opened.get(), r, files, sealing, depth + 1, error)) return false;
            continue;
        }
        sealing.total += uint64_t(again.st_size);
        if (sealing.total > kLargestBundle)
            return resourceError(error, "the bundle's files hold more than " + std::to_string(kLargestBundle >> 30) + " GiB");
        if (!digestCodeFile(opened.get(), 0, 0, f.sha256)) return resourceError(error, "cannot read " + r);
        files.push_back(std::move(f));
    }
    return true;
}

}  // namespace

std::string CodeDirectory::serialize() const {
    Value d;
    d.set("version", 1);
    d.set("identifier", identifier);
    d.set("flags", int64_t(flags));
    if (!executable.empty()) d.set("executable", executable);
    d.set("executableHash", data(executableHash));
    if (!files.empty()) {
        Value list;
        for (const auto& f : files) {
            Value e;
            e.set("path", f.path);
            e.set("mode", int64_t(f.mode));
            if (S_ISLNK(f.mode)) e.set("link", f.link);
            else if (!S_ISDIR(f.mode)) e.set("sha256", data(f.sha256));
            list.append(std::move(e));
        }
        d.set("files", std::move(list));
    }
    return plist::serialize(d);
}

bool CodeDirectory::parse(const std::string& textForm, CodeDirectory& out, ErrorPtr* error) {
    ErrorPtr perr;
    Value d = plist::parse(textForm, &perr);
    if (!d.isDictionary()) return bad(error, "not a dictionary");
    if (!d["version"].isInteger() || d["version"].intValue() != 1) return bad(error, "unknown version");
    if (!d["identifier"].isString() || d["identifier"].string().empty()) return bad(error, "no identifier");
    if (!d["flags"].isInteger() || d["flags"].intValue() < 0 || d["flags"].intValue() > 0xffffffffLL) return bad(error, "bad flags");
    if (!d["executableHash"].isData() || d["executableHash"].count() != 32) return bad(error, "bad executable hash");
    CodeDirectory cd;
    cd.identifier = d["identifier"].string();
    cd.flags = uint32_t(d["flags"].intValue());
    cd.executableHash = text(d["executableHash"].bytes());
    if (d.has("executable")) {
        if (!d["executable"].isString()) return bad(error, "bad executable");
        cd.executable = d["executable"].string();
    }
    if (d.has("files")) {
        if (!d["files"].isArray()) return bad(error, "bad file list");
        for (const auto& e : d["files"].array()) {
            SealedFile f;
            if (!e["path"].isString() || !e["mode"].isInteger()) return bad(error, "bad file entry");
            f.path = e["path"].string();
            int64_t mode = e["mode"].intValue();
            if (mode < 0 || mode > 0xffffffffLL) return bad(error, "bad file mode");
            f.mode = uint32_t(mode);
            if (S_ISLNK(f.mode)) {
                if (!e["link"].isString()) return bad(error, "bad link entry");
                f.link = e["link"].string();
            } else if (S_ISDIR(f.mode)) {
                // A folder is sealed by its name and mode.
            } else {
                if (!e["sha256"].isData() || e["sha256"].count() != 32) return bad(error, "bad file hash");
                f.sha256 = text(e["sha256"].bytes());
            }
            cd.files.push_back(std::move(f));
        }
    }
    out = std::move(cd);
    return true;
}

bool linkStaysInBundle(const std::string& linkPath, const std::string& target) {
    if (target.empty() || target[0] == '/') return false;
    // The folders the link lies in, "Contents" included.
    size_t depth = 0;
    for (char c : linkPath) depth += c == '/';
    size_t ups = 0;
    bool named = false;
    for (size_t i = 0; i <= target.size();) {
        size_t end = target.find('/', i);
        if (end == std::string::npos) end = target.size();
        std::string part = target.substr(i, end - i);
        i = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            // A ".." after a name could climb out of a folder a link leads to.
            if (named) return false;
            ++ups;
        } else {
            named = true;
        }
    }
    return ups < depth;
}

bool sealBundleFiles(int bundle, std::vector<SealedFile>& files, ErrorPtr* error) {
    std::vector<SealedFile> found;
    struct stat st{};
    CodeDescriptor contents(::openat(bundle, "Contents", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!contents || ::fstat(contents.get(), &st) != 0)
        return resourceError(error, errno == ELOOP ? "the bundle's Contents is a symbolic link" : "the bundle has no Contents folder");
    found.push_back(SealedFile{"Contents", uint32_t(st.st_mode & (S_IFMT | 07777)), {}, {}});
    Sealing sealing;
    if (!walk(contents.get(), "Contents", found, sealing, 0, error)) return false;
    std::sort(found.begin(), found.end(), [](const SealedFile& a, const SealedFile& b) { return a.path < b.path; });
    files = std::move(found);
    return true;
}

bool sealBundleFiles(const std::string& bundleHostPath, std::vector<SealedFile>& files, ErrorPtr* error) {
    CodeDescriptor bundle(::open(bundleHostPath.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    if (!bundle) return resourceError(error, "cannot open the bundle " + bundleHostPath);
    return sealBundleFiles(bundle.get(), files, error);
}

}  // namespace telvo::codesign
