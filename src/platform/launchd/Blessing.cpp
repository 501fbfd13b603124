// Blessing a privileged helper: checks of the caller, the copy by descriptor, checks of the copy.
#include "platform/launchd/Blessing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include "platform/authorization/Authorization.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/ElfSection.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Status.h"
#include "platform/fs/Root.h"
#include "platform/launchd/Paths.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/PropertyList.h"

namespace telvo::launchd {

namespace {

// A helper is a small program; anything larger is refused before it is read.
constexpr size_t kHelperLimit = size_t(256) << 20;

ErrorPtr refusal(int code, const std::string& why) { return makeError("launchd", code, why); }

// A folder of root's that nobody else may write, made when missing; opened without following
// a link. Answers the descriptor, or -1 and the refusal.
int openRootFolder(const std::string& path, ErrorPtr& error) {
    if (!fs::isDirectory(path) && !fs::createDirectories(path, 0755)) {
        error = refusal(errno, "cannot make " + path + ": " + std::strerror(errno));
        return -1;
    }
    int fd = ::open(fs::resolve(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st{};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = refusal(errno, "cannot open " + path + ": " + std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return -1;
    }
    if (st.st_uid != 0 || (st.st_mode & 022) != 0) {
        error = refusal(EPERM, path + " is not root's alone");
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string temporaryName(const std::string& label) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(random()));
    return "." + label + suffix;
}

// Writes the bytes to a new file in the folder (root's, mode 0600 until it is finished).
int writeTemporary(int folder, const std::string& name, const std::string& bytes, ErrorPtr& error) {
    int fd = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = refusal(errno, std::string("cannot make a temporary file: ") + std::strerror(errno));
        return -1;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = refusal(errno ? errno : EIO, std::string("cannot write a temporary file: ") + std::strerror(errno));
            ::close(fd);
            ::unlinkat(folder, name.c_str(), 0);
            return -1;
        }
        done += size_t(n);
    }
    if (::fchown(fd, 0, 0) != 0 || ::fsync(fd) != 0) {
        error = refusal(errno, std::string("cannot finish a temporary file: ") + std::strerror(errno));
        ::close(fd);
        ::unlinkat(folder, name.c_str(), 0);
        return -1;
    }
    return fd;
}

// Opens a logical path for reading one component at a time from the file-system root, never
// through a link (a link anywhere below the root fails with ELOOP or ENOTDIR).
int openWithoutLinks(const std::string& logical) {
    int fd = ::open(fs::resolve("/").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t at = 1;
    while (fd >= 0) {
        size_t end = logical.find('/', at);
        const bool last = end == std::string::npos;
        const std::string name = logical.substr(at, last ? std::string::npos : end - at);
        if (name == "." || name == "..") {
            ::close(fd);
            errno = EINVAL;
            return -1;
        }
        if (!name.empty()) {
            int flags = O_NOFOLLOW | O_CLOEXEC | (last ? O_RDONLY | O_NONBLOCK | O_NOCTTY : O_PATH | O_DIRECTORY);
            int next = ::openat(fd, name.c_str(), flags);
            int err = errno;
            ::close(fd);
            errno = err;
            fd = next;
        }
        if (last) return fd;
        at = end + 1;
    }
    return -1;
}

// The bundle of an executable "<bundle>/Contents/MacOS/<name>"; empty when it lies in none.
std::string bundleOfExecutable(const std::string& executable) {
    size_t name = executable.find_last_of('/');
    if (name == std::string::npos || name == 0) return {};
    std::string macos = executable.substr(0, name);
    const std::string tail = "/Contents/MacOS";
    if (macos.size() <= tail.size() || macos.compare(macos.size() - tail.size(), tail.size(), tail) != 0) return {};
    return macos.substr(0, macos.size() - tail.size());
}

ErrorPtr bless(const xpc::PeerCredentials& caller, const std::string& label, Blessed& out) {
    using namespace authorization;
    if (!isHelperLabel(label)) return refusal(EINVAL, "\"" + label + "\" names no helper");
    // The right is checked without asking: the caller obtained it before it asked to bless.
    OSStatus status = AuthorizationCheckCaller(caller, kSMRightBlessPrivilegedHelper, kAuthorizationFlagExtendRights);
    if (status != errAuthorizationSuccess)
        return refusal(EPERM, std::string("the caller does not hold the right to bless helpers (") +
                                  statusMessage(status) + ")");

    // The caller itself is signed code; its executable names the bundle the helper comes from.
    int32_t codeStatus = 0;
    codesign::CodePtr code = codesign::Code::copyGuestWithPid(caller.pid, codeStatus);
    if (!code) return refusal(ESRCH, "the caller's process is gone");
    const std::string executableBefore = code->path();
    Value info;
    std::string detail;
    codeStatus = code->checkValidity(info, detail);
    if (codeStatus != codesign::kStatusOK) return refusal(EPERM, "the caller is not validly signed: " + detail);
    if (code->path() != executableBefore || !caller.alive())
        return refusal(EPERM, "the caller changed while it was checked");
    std::string executable;
    if (!fs::logicalPath(executableBefore, executable))
        return refusal(EPERM, "the caller's program lies outside the file-system root");
    const std::string bundle = bundleOfExecutable(executable);
    if (bundle.empty()) return refusal(ENOENT, "the caller's program " + executable + " lies in no bundle");
    const std::string source = bundle + "/Contents/Library/LaunchServices/" + label;

    // The helper is read once, never through a link, and only that copy counts from here on.
    std::string bytes;
    {
        int fd = openWithoutLinks(source);
        if (fd < 0) return refusal(errno, "cannot open " + source + " without following a link: " + std::strerror(errno));
        struct stat st{};
        bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && size_t(st.st_size) <= kHelperLimit &&
                  fs::readDescriptor(fd, bytes, kHelperLimit);
        int err = errno;
        ::close(fd);
        if (!ok) {
            if (S_ISREG(st.st_mode) && size_t(st.st_size) > kHelperLimit) return refusal(EFBIG, source + " is too large");
            if (!S_ISREG(st.st_mode)) return refusal(EINVAL, source + " is no regular file");
            return refusal(err, "cannot read " + source + ": " + std::strerror(err));
        }
    }

    ErrorPtr error;
    int tools = openRootFolder(kPrivilegedHelperFolder, error);
    if (tools < 0) return error;
    int daemons = openRootFolder(kDaemonsFolder, error);
    if (daemons < 0) {
        ::close(tools);
        return error;
    }
    const std::string temporary = temporaryName(label);
    int copy = writeTemporary(tools, temporary, bytes, error);
    auto fail = [&](ErrorPtr e) {
        if (copy >= 0) ::close(copy);
        ::unlinkat(tools, temporary.c_str(), 0);
        ::close(tools);
        ::close(daemons);
        return e;
    };
    if (copy < 0) return fail(error);

    // The copy: the maker's signature, of this label, with the job of this label, admitting the caller.
    Value helperInfo;
    codeStatus = codesign::checkExecutableFile(copy, helperInfo, detail);
    if (codeStatus != codesign::kStatusOK) return fail(refusal(EPERM, "the helper " + source + " is not validly signed: " + detail));
    codesign::RequirementPtr maker =
        codesign::Requirement::parse("anchor apple generic and identifier \"" + label + "\"", &error);
    codesign::RequirementContext context;
    context.identifier = helperInfo["identifier"].string();
    for (const auto& d : helperInfo["certificates"].array()) context.chain.emplace_back(d.bytes().begin(), d.bytes().end());
    context.anchored = true;
    if (!maker || !maker->evaluate(context))
        return fail(refusal(EPERM, "the helper " + source + " is signed as \"" + context.identifier + "\", not as \"" +
                                       label + "\""));
    Value job = codesign::readEmbeddedPropertyList(bytes, codesign::kLaunchdSectionName, &error);
    if (!job.isDictionary() || job["Label"].string() != label)
        return fail(refusal(EPERM, "the helper " + source + " carries no launchd job labelled " + label));
    Value embeddedInfo = codesign::readEmbeddedPropertyList(bytes, codesign::kInfoSectionName, &error);
    bool admitted = false;
    for (const auto& text : embeddedInfo["SMAuthorizedClients"].array()) {
        if (!text.isString()) continue;
        codesign::RequirementPtr requirement = codesign::Requirement::parse(text.string());
        Value callerInfo;
        std::string callerDetail;
        if (requirement && code->checkValidity(*requirement, callerInfo, callerDetail) == codesign::kStatusOK) {
            admitted = true;
            break;
        }
    }
    if (!admitted) return fail(refusal(EPERM, "the helper " + source + " does not admit the caller (SMAuthorizedClients)"));
    if (!caller.alive()) return fail(refusal(EPERM, "the caller ended while it was checked"));

    // In place: the program first, then its job.
    out.program = std::string(kPrivilegedHelperFolder) + "/" + label;
    out.jobFile = std::string(kDaemonsFolder) + "/" + label + ".plist";
    if (::fchmod(copy, 0544) != 0 || ::renameat(tools, temporary.c_str(), tools, label.c_str()) != 0)
        return fail(refusal(errno, "cannot put the helper in place: " + std::string(std::strerror(errno))));
    ::close(copy);
    copy = -1;
    job.set("ProgramArguments", Value(ValueArray{Value(out.program)}));
    job.remove("Program");
    const std::string jobTemporary = temporaryName(label);
    int jobFd = writeTemporary(daemons, jobTemporary, plist::serialize(job), error);
    if (jobFd < 0) return fail(error);
    bool placed = ::fchmod(jobFd, 0644) == 0 && ::renameat(daemons, jobTemporary.c_str(), daemons, (label + ".plist").c_str()) == 0;
    int err = errno;
    ::close(jobFd);
    if (!placed) {
        ::unlinkat(daemons, jobTemporary.c_str(), 0);
        return fail(refusal(err, "cannot write " + out.jobFile + ": " + std::strerror(err)));
    }
    ::close(tools);
    ::close(daemons);
    return nullptr;
}

}  // namespace

bool isHelperLabel(const std::string& label) {
    if (label.empty() || label.size() > 200 || label == "." || label == ".." || label.front() == '.') return false;
    for (unsigned char c : label)
        if (c == '/' || c < 0x21 || c > 0x7e) return false;
    return true;
}

ErrorPtr blessHelper(const xpc::PeerCredentials& caller, const std::string& label, Blessed& out) {
    ErrorPtr e = bless(caller, label, out);
    if (e)
        SystemLog("launchd: refused to bless %@ for %@: %@", label, caller.description(), e->message);
    else
        SystemLog("launchd: blessed %@ for %@: %@", label, caller.description(), out.program);
    return e;
}

}  // namespace telvo::launchd
