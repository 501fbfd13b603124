// Validation of code objects: executables, bundles and running processes.
#include "platform/codesign/Code.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/codesign/AnchorStore.h"
#include "platform/codesign/Cms.h"
#include "platform/codesign/CodeDirectory.h"
#include "platform/codesign/CodeFile.h"
#include "platform/codesign/ElfSection.h"
#include "platform/codesign/Status.h"
#include "platform/crypto/Digest.h"
#include "platform/fs/Root.h"
#include "platform/host/ProcFile.h"
#include "platform/host/ProcRoot.h"
#include "platform/values/PropertyList.h"

namespace telvo::codesign {
namespace {

std::mutex& seamMutex() {
    static std::mutex m;
    return m;
}
std::function<void(pid_t)>& seam() {
    static std::function<void(pid_t)> s;
    return s;
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() { if (fd >= 0) ::close(fd); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

Value certificatesValue(const std::vector<std::string>& chain) {
    Value list = Value(ValueArray{});
    for (const auto& d : chain) list.append(Value::data(d));
    return list;
}

// Verifies a signature's CMS bytes and parses its code directory; fills what it can.
int32_t verifySignature(const std::string& der, Value& info, CodeDirectory& cd, std::string& detail) {
    std::vector<std::string> anchors;
    ErrorPtr anchorError;
    bool haveAnchors = loadAnchors(anchors, &anchorError);
    VerifiedContent verified;
    int32_t status = verifyContent(der, haveAnchors ? anchors : std::vector<std::string>{}, verified, detail);
    if (!verified.chain.empty()) info.set("certificates", certificatesValue(verified.chain));
    if (!haveAnchors && status != kStatusNotVerifiable && status != kStatusSignatureFailed) {
        detail = anchorError ? anchorError->message : "no anchor store";
        return kStatusNoAnchors;
    }
    if (status != kStatusOK) return status;
    ErrorPtr error;
    if (!CodeDirectory::parse(verified.content, cd, &error)) {
        detail = error->message;
        return kStatusNotVerifiable;
    }
    info.set("identifier", cd.identifier);
    info.set("flags", int64_t(cd.flags));
    info.set("unique", Value(crypto::sha256(verified.content)));
    return kStatusOK;
}

int32_t checkBundle(const std::string& host, Value& info, std::string& detail) {
    info.set("format", "bundle");
    CodeDescriptor bundle(::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    if (!bundle) {
        detail = "cannot open the bundle";
        return kStatusNoSuchCode;
    }
    struct stat st{};
    if (::fstatat(bundle.get(), kBundleSignaturePath, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
        detail = "the bundle has no signature file";
        return kStatusUnsigned;
    }
    uint64_t size = 0;
    std::string der, why;
    CodeDescriptor signature = openCodeFile(bundle.get(), kBundleSignaturePath, kLargestSignature, size, why);
    if (!signature || !readCodeFile(signature.get(), kLargestSignature, der, why)) {
        detail = "the bundle's signature file cannot be read: " + why;
        return kStatusNotVerifiable;
    }
    CodeDirectory cd;
    if (int32_t s = verifySignature(der, info, cd, detail); s != kStatusOK) return s;
    if (cd.executable.rfind("Contents/", 0) != 0 || cd.executable.find("..") != std::string::npos) {
        detail = "the bundle's executable path is invalid";
        return kStatusNotVerifiable;
    }
    info.set("main-executable", cd.executable);
    // No link on the way to the executable, nor the executable itself.
    CodeDescriptor exe = openCodeFile(bundle.get(), cd.executable, kLargestExecutable, size, why);
    std::string digest;
    if (!exe || !executableFileDigest(exe.get(), size, digest)) {
        detail = "the bundle's executable cannot be read: " + why;
        return kStatusResourcesInvalid;
    }
    if (digest != cd.executableHash) {
        detail = "the bundle's executable was modified";
        return kStatusSignatureFailed;
    }
    std::vector<SealedFile> files;
    ErrorPtr error;
    if (!sealBundleFiles(bundle.get(), files, &error)) {
        detail = error->message;
        return kStatusResourcesInvalid;
    }
    if (files != cd.files) {
        detail = "a file of the bundle was added, removed or modified";
        for (size_t i = 0; i < std::max(files.size(), cd.files.size()); ++i) {
            if (i >= files.size() || i >= cd.files.size() || !(files[i] == cd.files[i])) {
                detail += ": " + (i < files.size() ? files[i].path : cd.files[i].path);
                break;
            }
        }
        return kStatusResourcesInvalid;
    }
    return kStatusOK;
}

bool readStartTime(pid_t pid, uint64_t& start) {
    std::string stat;
    if (!host::readProcFile("/proc/" + std::to_string(pid) + "/stat", stat)) return false;
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return false;
    std::string_view rest(stat);
    rest.remove_prefix(close + 1);
    // Fields after the command: state is field 3, starttime field 22.
    for (int field = 3; field < 22; ++field) {
        host::skipBlanks(rest);
        size_t sp = rest.find(' ');
        if (sp == std::string_view::npos) return false;
        rest.remove_prefix(sp);
    }
    return host::parseUnsigned(rest, start);
}

struct Identity {
    uint64_t start = 0;
    dev_t dev = 0;
    ino_t ino = 0;
};

bool lookAt(pid_t pid, Identity& id) {
    struct stat st{};
    if (!readStartTime(pid, id.start)) return false;
    if (stat(host::ProcRoot::path("/proc/" + std::to_string(pid) + "/exe").c_str(), &st) != 0) return false;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    return true;
}

bool statusField(const std::string& status, const std::string& key, uint64_t& value) {
    size_t at = status.find("\n" + key + ":");
    if (at == std::string::npos) return false;
    std::string_view rest(status);
    rest.remove_prefix(at + key.size() + 2);
    return host::parseUnsigned(rest, value);
}

// A file of executable code is acceptable when root owns it and no one else can write it,
// or when it carries a valid signature of its own.
bool trustedCodeFile(int fd, const Identity& main, std::string& why) {
    struct stat st{};
    if (fstat(fd, &st) != 0) return false;
    if (st.st_dev == main.dev && st.st_ino == main.ino) return true;
    if (S_ISREG(st.st_mode) && st.st_uid == 0 && !(st.st_mode & (S_IWGRP | S_IWOTH))) return true;
    Value info;
    std::string detail;
    if (checkExecutableFile(fd, info, detail) == kStatusOK) return true;
    why = "it is neither root's nor validly signed";
    return false;
}

int32_t checkMappings(pid_t pid, const Identity& main, std::string& detail) {
    std::string maps;
    const std::string base = "/proc/" + std::to_string(pid);
    if (!host::readProcFile(base + "/maps", maps)) {
        detail = "cannot read the process's mappings";
        return kStatusGuestInvalid;
    }
    std::string_view text(maps), line;
    while (host::nextLine(text, line)) {
        // "start-end perms offset dev inode   path"
        size_t sp1 = line.find(' ');
        if (sp1 == std::string_view::npos || sp1 + 5 > line.size()) continue;
        std::string_view range = line.substr(0, sp1), perms = line.substr(sp1 + 1, 4);
        if (perms.size() < 3 || perms[2] != 'x') continue;
        std::string_view rest = line.substr(sp1 + 5);
        for (int skip = 0; skip < 3; ++skip) {
            host::skipBlanks(rest);
            size_t sp = rest.find(' ');
            rest = sp == std::string_view::npos ? std::string_view() : rest.substr(sp);
        }
        host::skipBlanks(rest);
        std::string path(rest);
        if (path == "[vdso]" || path == "[vsyscall]") continue;
        if (path.empty() || path[0] != '/') {
            detail = "the process runs code that is mapped from no file (" + std::string(range) + ")";
            return kStatusGuestInvalid;
        }
        // The mapped file itself, whatever has become of its name since.
        Fd fd(::open(host::ProcRoot::path(base + "/map_files/" + std::string(range)).c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.fd < 0) {
            detail = "cannot open the mapped file " + path;
            return kStatusGuestInvalid;
        }
        std::string why;
        if (!trustedCodeFile(fd.fd, main, why)) {
            detail = "the process maps code from " + path + ": " + why;
            return kStatusGuestInvalid;
        }
    }
    return kStatusOK;
}

int pidfdOpen(pid_t pid) { return int(syscall(SYS_pidfd_open, pid, 0)); }

// The signature read from an executable's section: present, valid, and a single program's.
int32_t verifyExecutableSignature(const std::string& der, Value& info, CodeDirectory& cd, std::string& detail) {
    if (der.empty()) {
        detail = "the signature section is empty";
        return kStatusUnsigned;
    }
    if (int32_t s = verifySignature(der, info, cd, detail); s != kStatusOK) return s;
    if (!cd.executable.empty() || !cd.files.empty()) {
        detail = "the signature is a bundle's";
        return kStatusSignatureFailed;
    }
    return kStatusOK;
}

}  // namespace

int32_t checkExecutableBytes(const std::string& bytes, Value& info, std::string& detail) {
    info.set("format", "ELF");
    SectionRange range;
    ErrorPtr error;
    if (!findSignatureSection(bytes, range, &error)) {
        detail = error->message;
        return int32_t(error->code);
    }
    std::string der;
    if (!readSignatureBlob(std::string_view(bytes).substr(range.offset, range.size), der)) {
        detail = "the signature section is damaged";
        return kStatusNotVerifiable;
    }
    CodeDirectory cd;
    if (int32_t s = verifyExecutableSignature(der, info, cd, detail); s != kStatusOK) return s;
    if (executableDigest(bytes, range) != cd.executableHash) {
        detail = "the executable was modified";
        return kStatusSignatureFailed;
    }
    return kStatusOK;
}

int32_t checkExecutableFile(int fd, Value& info, std::string& detail) {
    info.set("format", "ELF");
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        detail = "the executable is not a regular file";
        return kStatusNoSuchCode;
    }
    if (uint64_t(st.st_size) > kLargestExecutable) {
        detail = "the executable is larger than " + std::to_string(kLargestExecutable >> 30) + " GiB";
        return kStatusBadObjectFormat;
    }
    const uint64_t size = uint64_t(st.st_size);
    SectionRange range;
    ErrorPtr error;
    if (!findSignatureSection(fd, size, range, &error)) {
        detail = error->message;
        return int32_t(error->code);
    }
    if (range.size > kSectionSize * 64) {
        detail = "the signature section is too large";
        return kStatusNotVerifiable;
    }
    std::string section(size_t(range.size), '\0'), der;
    if (::pread(fd, section.data(), section.size(), off_t(range.offset)) != ssize_t(section.size()) ||
        !readSignatureBlob(section, der)) {
        detail = "the signature section is damaged";
        return kStatusNotVerifiable;
    }
    CodeDirectory cd;
    if (int32_t s = verifyExecutableSignature(der, info, cd, detail); s != kStatusOK) return s;
    std::string digest;
    if (!digestCodeFile(fd, range.offset, range.size, digest)) {
        detail = "the executable cannot be read";
        return kStatusNoSuchCode;
    }
    if (digest != cd.executableHash) {
        detail = "the executable was modified";
        return kStatusSignatureFailed;
    }
    return kStatusOK;
}

CodePtr Code::createWithPath(const std::string& path, int32_t& status) {
    struct stat st{};
    if (path.empty() || stat(fs::resolve(path).c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
        status = kStatusNoSuchCode;
        return nullptr;
    }
    status = kStatusOK;
    return CodePtr(new Code(Kind::Static, path, 0));
}

CodePtr Code::copyGuestWithPid(pid_t pid, int32_t& status) {
    struct stat st{};
    if (pid <= 0 || stat(host::ProcRoot::path("/proc/" + std::to_string(pid) + "/exe").c_str(), &st) != 0) {
        status = kStatusNoSuchCode;
        return nullptr;
    }
    status = kStatusOK;
    return CodePtr(new Code(Kind::Dynamic, std::string(), pid));
}

CodePtr Code::copySelf(int32_t& status) { return copyGuestWithPid(getpid(), status); }

std::string Code::path() const {
    if (kind_ == Kind::Static) return path_;
    char buf[4096];
    ssize_t n = readlink(host::ProcRoot::path("/proc/" + std::to_string(pid_) + "/exe").c_str(), buf, sizeof buf);
    if (n <= 0) return std::string();
    return std::string(buf, size_t(n));
}

void Code::setProcessCheckSeamForTesting(std::function<void(pid_t)> s) {
    std::lock_guard<std::mutex> lock(seamMutex());
    seam() = std::move(s);
}

int32_t Code::checkValidity(Value& info, std::string& detail) const {
    info = Value(ValueDictionary{});
    if (kind_ == Kind::Dynamic) return checkProcess(info, detail);
    const std::string host = fs::resolve(path_);
    struct stat st{};
    if (stat(host.c_str(), &st) != 0) {
        detail = "cannot find " + path_;
        return kStatusNoSuchCode;
    }
    info.set("main-executable", path_);
    if (S_ISDIR(st.st_mode)) return checkBundle(host, info, detail);
    // Opened without following a last link and without blocking, checked as regular, then
    // read through that descriptor only.
    uint64_t size = 0;
    std::string why;
    CodeDescriptor fd = openCodeFile(host, kLargestExecutable, size, why);
    if (!fd) {
        info.set("format", "ELF");
        detail = "cannot read " + path_ + ": " + why;
        return kStatusNoSuchCode;
    }
    return checkExecutableFile(fd.get(), info, detail);
}

int32_t Code::checkProcess(Value& info, std::string& detail) const {
    const std::string base = "/proc/" + std::to_string(pid_);
    // The first look: the process (held by a pidfd), its start time and its executable file.
    Fd pidfd(pidfdOpen(pid_));
    Identity first;
    Fd exe(::open(host::ProcRoot::path(base + "/exe").c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st{};
    if (pidfd.fd < 0 || exe.fd < 0 || !readStartTime(pid_, first.start) || fstat(exe.fd, &st) != 0) {
        detail = "the process is gone";
        return kStatusNoSuchCode;
    }
    first.dev = st.st_dev;
    first.ino = st.st_ino;
    info.set("main-executable", path());
    // Its code, read through its own descriptor.
    if (int32_t s = checkExecutableFile(exe.fd, info, detail); s != kStatusOK) return s;
    std::string status;
    uint64_t tracer = 1, uid = 1;
    if (!host::readProcFile(base + "/status", status) || !statusField(status, "TracerPid", tracer) ||
        !statusField(status, "Uid", uid)) {
        detail = "cannot read the process's status";
        return kStatusGuestInvalid;
    }
    if (tracer != 0) {
        detail = "the process is traced by " + std::to_string(tracer);
        return kStatusGuestInvalid;
    }
    // A caller that is not root must have made itself non-dumpable, so that its owner cannot
    // attach to it after this check; the entries inside its /proc folder then belong to root.
    struct stat procStat{};
    if (uid != 0 && (stat(host::ProcRoot::path(base + "/mem").c_str(), &procStat) != 0 || procStat.st_uid != 0)) {
        detail = "the process is dumpable";
        return kStatusGuestInvalid;
    }
    std::string environ;
    if (!host::readProcFile(base + "/environ", environ)) {
        detail = "cannot read the process's environment";
        return kStatusGuestInvalid;
    }
    std::string_view env(environ);
    while (!env.empty()) {
        size_t end = env.find('\0');
        std::string_view entry = env.substr(0, end);
        for (const char* name : {"LD_PRELOAD=", "LD_AUDIT=", "LD_LIBRARY_PATH="}) {
            if (entry.rfind(name, 0) == 0) {
                detail = "the process was started with " + std::string(entry.substr(0, std::strlen(name) - 1));
                return kStatusGuestInvalid;
            }
        }
        if (end == std::string_view::npos) break;
        env.remove_prefix(end + 1);
    }
    if (int32_t s = checkMappings(pid_, first, detail); s != kStatusOK) return s;
    {
        std::function<void(pid_t)> hook;
        {
            std::lock_guard<std::mutex> lock(seamMutex());
            hook = seam();
        }
        if (hook) hook(pid_);
    }
    // The last look: still the same process, still running the same file.
    pollfd p{pidfd.fd, POLLIN, 0};
    Identity last;
    if (poll(&p, 1, 0) != 0 || !lookAt(pid_, last) || last.start != first.start || last.dev != first.dev ||
        last.ino != first.ino) {
        detail = "the process changed while it was checked";
        return kStatusGuestInvalid;
    }
    return kStatusOK;
}

int32_t Code::checkValidity(const Requirement& requirement, Value& info, std::string& detail) const {
    int32_t s = checkValidity(info, detail);
    if (s != kStatusOK) return s;
    RequirementContext context;
    context.identifier = info["identifier"].string();
    for (const auto& d : info["certificates"].array()) context.chain.emplace_back(d.bytes().begin(), d.bytes().end());
    context.anchored = true;
    if (!requirement.evaluate(context)) {
        detail = "the code does not satisfy " + requirement.text();
        return kStatusRequirementFailed;
    }
    return kStatusOK;
}

}  // namespace telvo::codesign
