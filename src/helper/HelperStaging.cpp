#include "helper/HelperStaging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <random>
#include "codesign/MOLCodesignChecker.h"
#include "helper/FileTree.h"
#include "helper/HelperPolicy.h"
#include "platform/codesign/CodeFile.h"
#include "platform/codesign/Requirement.h"
#include "platform/values/PropertyList.h"

namespace telvo::helper {

namespace {

std::string lastOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The build of an Info list read without following links; -1 when there is none.
long buildOf(const std::string& infoPath) {
    Descriptor parent;
    std::string leaf, why;
    if (!openParent(infoPath, parent, leaf, why)) return -1;
    Descriptor file(::openat(parent.get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (1 << 20)) return -1;
    std::string text(size_t(st.st_size), '\0');
    if (::pread(file.get(), text.data(), text.size(), 0) != ssize_t(text.size())) return -1;
    Value info = plist::parse(text);
    const Value& version = info["CFBundleVersion"];
    if (!version.isString() && !version.isNumber()) return -1;
    return long(version.intValue());
}

}  // namespace

HelperStaging::~HelperStaging() { remove(); }

std::string HelperStaging::stagedApplication() const {
    return folder_.empty() ? std::string() : folder_ + "/" + lastOf(application_);
}

void HelperStaging::remove() {
    if (folder_.empty()) return;
    std::string why;
    removeTree(folder_, why);
    folder_.clear();
}

bool HelperStaging::stagedSource(const std::string& source, std::string& staged, std::string& why) {
    const std::string application = outermostApplication(source);
    if (application.empty()) {
        why = source + " lies in no application";
        return false;
    }
    if (failed_) {
        why = failure_;
        return false;
    }
    if (application_.empty()) {
        application_ = application;
        if (!stage(application, why)) {
            failed_ = true;
            failure_ = why;
            remove();
            return false;
        }
    } else if (application != application_) {
        why = source + " lies in another application than " + application_;
        return false;
    }
    staged = stagedApplication() + source.substr(application.size());
    return true;
}

bool HelperStaging::stage(const std::string& application, std::string& why) {
    Descriptor base;
    if (!makeFolders(kStagingFolder, base, why)) return false;
    std::random_device random;
    std::string name;
    for (int attempt = 0; attempt < 100 && name.empty(); ++attempt) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "stage-%08x%08x", random(), random());
        if (::mkdirat(base.get(), buffer, 0700) == 0) name = buffer;
        else if (errno != EEXIST) break;
    }
    if (name.empty()) {
        why = std::string("no staging folder can be made in ") + kStagingFolder + ": " + std::strerror(errno);
        return false;
    }
    folder_ = std::string(kStagingFolder) + "/" + name;
    Descriptor folder(::openat(base.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder || ::fchown(folder.get(), 0, 0) != 0 || ::fchmod(folder.get(), 0700) != 0) {
        why = folder_ + " cannot be made root's";
        return false;
    }
    // No larger application passes the check below: a caller's tree is not copied past that.
    if (!copyTreeTo(application, folder.get(), lastOf(application), codesign::kLargestBundle,
                    codesign::kMostBundleEntries, why)) {
        why = "the application " + application + " cannot be staged: " + why;
        return false;
    }
    const std::string staged = stagedApplication();
    ErrorPtr error;
    MOLCodesignCheckerPtr checker = MOLCodesignChecker::initWithBinaryPath(staged, &error);
    if (!checker || error) {
        why = "the application " + application + " has no valid signature: " +
              (error ? error->description() : std::string("no code"));
        return false;
    }
    codesign::RequirementPtr requirement = codesign::Requirement::parse(requirement_);
    if (!requirement || !checker->validateWithRequirement(requirement)) {
        why = "the application " + application + " does not meet the application's requirement";
        return false;
    }
    const long build = buildOf(staged + "/Contents/Info.plist");
    const long installed = buildOf(kInstalledAgentInfo);
    if (build < 0) {
        why = "the application " + application + " has no build number";
        return false;
    }
    if (installed >= 0 && build < installed) {
        why = "the application " + application + " is build " + std::to_string(build) +
              ", older than the installed agent's " + std::to_string(installed);
        return false;
    }
    return true;
}

}  // namespace telvo::helper
