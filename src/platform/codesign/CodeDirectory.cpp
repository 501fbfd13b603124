// Code directories: their property-list form and the sealing of a bundle's files.
#include "platform/codesign/CodeDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

bool readWhole(const std::string& path, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) { ::close(fd); return false; }
        if (n == 0) break;
        out.append(buf, size_t(n));
    }
    ::close(fd);
    return true;
}

bool walk(const std::string& host, const std::string& relative, std::vector<SealedFile>& files, ErrorPtr* error) {
    DIR* dir = opendir(host.c_str());
    if (!dir) {
        if (error) *error = makeError("CodesignErrorDomain", kStatusResourcesInvalid, "cannot read folder " + relative);
        return false;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    }
    closedir(dir);
    for (const auto& name : names) {
        std::string h = host + "/" + name, r = relative + "/" + name;
        if (r == kBundleSignaturePath) continue;
        struct stat st{};
        if (lstat(h.c_str(), &st) != 0) {
            if (error) *error = makeError("CodesignErrorDomain", kStatusResourcesInvalid, "cannot inspect " + r);
            return false;
        }
        SealedFile f;
        f.path = r;
        f.mode = st.st_mode & (S_IFMT | 07777);
        if (S_ISDIR(st.st_mode)) {
            if (!walk(h, r, files, error)) return false;
            continue;
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlink(h.c_str(), target, sizeof target);
            if (n < 0) {
                if (error) *error = makeError("CodesignErrorDomain", kStatusResourcesInvalid, "cannot read link " + r);
                return false;
            }
            f.link.assign(target, size_t(n));
        } else if (S_ISREG(st.st_mode)) {
            std::string bytes;
            if (!readWhole(h, bytes)) {
                if (error) *error = makeError("CodesignErrorDomain", kStatusResourcesInvalid, "cannot read " + r);
                return false;
            }
            f.sha256 = text(crypto::sha256(bytes));
        } else {
            if (error) *error = makeError("CodesignErrorDomain", kStatusResourcesInvalid, "unsupported file type: " + r);
            return false;
        }
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
            else e.set("sha256", data(f.sha256));
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

bool sealBundleFiles(const std::string& bundleHostPath, std::vector<SealedFile>& files, ErrorPtr* error) {
    std::vector<SealedFile> found;
    if (!walk(bundleHostPath + "/Contents", "Contents", found, error)) return false;
    std::sort(found.begin(), found.end(), [](const SealedFile& a, const SealedFile& b) { return a.path < b.path; });
    files = std::move(found);
    return true;
}

}  // namespace telvo::codesign
