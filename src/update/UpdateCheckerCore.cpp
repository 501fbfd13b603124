#include "update/UpdateCheckerCore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "foundation/KXRVersions.h"
#include "platform/bundle/MainBundle.h"
#include "platform/crypto/Digest.h"
#include "platform/crypto/Uuid.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/time/Clock.h"
#include "platform/values/Format.h"
#include "platform/xml/XmlDocument.h"
#include "update/FileUnarchiver.h"
#include "update/HostFiles.h"
#include "update/HttpTransfer.h"

namespace telvo::update {
namespace {

UpdateCheckerCore* gShared = nullptr;
bool gSubclassPresent = false;

std::string extensionOf(const std::string& name) {
    size_t slash = name.rfind('/');
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == 0) return {};
    return name.substr(dot + 1);
}

std::string withoutExtension(const std::string& name) {
    const std::string ext = extensionOf(name);
    return ext.empty() ? name : name.substr(0, name.size() - ext.size() - 1);
}

std::string lastComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    size_t start = s.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : s.substr(start);
}

// A DMI text of the machine ("/sys/class/dmi/id/<name>"); empty when unreadable.
std::string dmiValue(const std::string& name) {
    std::string contents;
    if (!fs::readFile(fs::resolve("/sys/class/dmi/id/" + name), contents, 4096)) return {};
    return trimmed(contents);
}

bool parseInteger(const std::string& text, long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str()) return false;
    out = v;
    return true;
}

std::vector<std::string> splitAtPoint(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts;
}

int64_t integerAttribute(const xml::XmlElement& e, const char* name) {
    return std::strtoll(e.attribute(name).c_str(), nullptr, 10);
}

std::string percentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit((unsigned char)text[i + 1]) &&
            std::isxdigit((unsigned char)text[i + 2])) {
            out.push_back(char(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// The file name an address ends in: the last component of its path, query and fragment left
// out, percent escapes decoded.
std::string fileNameOfURL(const std::string& address) {
    std::string rest = address;
    size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        rest = rest.substr(scheme + 3);
        size_t slash = rest.find('/');
        rest = slash == std::string::npos ? std::string() : rest.substr(slash);
    }
    size_t cut = rest.find_first_of("?#");
    if (cut != std::string::npos) rest = rest.substr(0, cut);
    size_t slash = rest.rfind('/');
    return percentDecoded(slash == std::string::npos ? rest : rest.substr(slash + 1));
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

bool existsNoFollow(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Depth-first, names sorted: the first entry whose extension is "app" or "pkg".
std::string findPayload(const std::string& folder, const std::string& relative, int depth) {
    if (depth > 32) return {};
    const std::string here = relative.empty() ? folder : folder + "/" + relative;
    DIR* dir = opendir(here.c_str());
    if (!dir) return {};
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        const std::string ext = extensionOf(name);
        if (ext == "app" || ext == "pkg") return folder + "/" + rel;
        struct stat st;
        if (lstat((folder + "/" + rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::string found = findPayload(folder, rel, depth + 1);
            if (!found.empty()) return found;
        }
    }
    return {};
}

}  // namespace

std::string encodeFormValue(const std::string& value) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == ',') {
            out.push_back(char(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

UpdateCheckerCore::UpdateCheckerCore() : alive_(std::make_shared<bool>(true)) {
    const Value& info = bundle::MainBundle::infoDictionary();
    currentVersion = float(info["CFBundleShortVersionString"].doubleValue());
    currentVersionBuild = info["CFBundleVersion"].intValue();
    appName = info["CFBundleName"].stringValue();
    if (appName.empty()) appName = bundle::MainBundle::processName();
    if (!appName.empty()) {
        installFiles.push_back(appName + ".app");
        installFiles.push_back(appName + ".pkg");
    }
    const std::string bundleName = lastComponent(bundle::MainBundle::path());
    if (bundleName.size() > 4 && bundleName.compare(bundleName.size() - 4, 4, ".app") == 0 &&
        std::find(installFiles.begin(), installFiles.end(), bundleName) == installFiles.end()) {
        installFiles.push_back(bundleName);
        installFiles.push_back(withoutExtension(bundleName) + ".pkg");
    }
    feedQueue_ = dispatch::Queue::createSerial("UpdateCheckerCore feed");
}

UpdateCheckerCore::~UpdateCheckerCore() {
    *alive_ = false;
    if (downloader) downloader->cancel();
}

UpdateCheckerCore* UpdateCheckerCore::sharedUpdateChecker() {
    if (gSubclassPresent) {
        SystemLog("Warning - Wrong updater class is being used");
        return nullptr;
    }
    if (!gShared) gShared = new UpdateCheckerCore();
    return gShared;
}

void UpdateCheckerCore::setSubclassPresent(bool present) { gSubclassPresent = present; }

void UpdateCheckerCore::resetForTesting() {
    delete gShared;
    gShared = nullptr;
    gSubclassPresent = false;
}

std::string UpdateCheckerCore::feedForm() {
    std::string body;
    body += format("version=%.2f&", double(currentVersion));
    body += format("build=%ld&", long(currentVersionBuild));
    body += "platform=" + encodeFormValue(systemVersion()) + "&";
    body += "model=" + encodeFormValue(model()) + "&";
    body += "uid=" + encodeFormValue(uid()) + "&";
    std::string language;
    const Value languages = defaults::UserDefaults::standard().objectForKey("AppleLanguages");
    if (languages.isArray() && languages.count() > 0) language = languages.at(0).stringValue();
    if (language.empty()) language = "en";
    body += "language=" + encodeFormValue(language) + "&";
    body += format("rand=%.0f&", platform::Clock::now());
    body += format("ui=%d", userInitiated ? 1 : 0);
    const float skipped = skippedVersion();
    if (skipped > 0) body += format("&skipped=%.2f", double(skipped));
    for (const auto& [key, value] : additionalComponents) body += "&" + encodeFormValue(key) + "=" + encodeFormValue(value);
    return body;
}

bool UpdateCheckerCore::checkForUpdates() {
    if (feed.empty()) {
        SystemLog("No feed url has been set");
        return false;
    }
    if (active) {
        SystemLog("updating checker already active");
        return false;
    }
    active = true;
    cancelled = false;
    HttpRequest request;
    request.url = feed;
    request.post = true;
    request.body = feedForm();
    request.maxBytes = kLargestFeedAnswer;
    std::weak_ptr<bool> alive = alive_;
    const uint64_t number = ++request_;
    feedQueue_->async([this, request, alive, number] {
        HttpResponse response = perform(request);
        dispatch::Queue::main()->async([this, response, alive, number] {
            auto living = alive.lock();
            if (!living || !*living) return;
            // Cancelled, or a check sent after a cancel has taken its place.
            if (cancelled || number != request_) return;
            if (response.error) connectionFailed(response.error);
            else processURLResponse(response.data);
        });
    });
    return true;
}

std::string UpdateCheckerCore::systemVersion() {
    const KXRVersions& versions = KXRVersions::sharedVersions();
    if (versions.major() <= 0) return "0.0";
    return format("%d.%d", int(versions.major()), int(versions.minor()));
}

std::string UpdateCheckerCore::model() { return dmiValue("product_name"); }

std::string UpdateCheckerCore::MD5(const std::string& text) {
    if (text.empty()) return {};
    return crypto::hexString(crypto::md5(text));
}

std::string UpdateCheckerCore::newUUID() { return MD5(crypto::newUUIDString()); }

std::string UpdateCheckerCore::serial() { return dmiValue("product_serial"); }

std::string UpdateCheckerCore::uid() {
    if (!preferencesDomain.empty()) {
        defaults::UserDefaults domain(preferencesDomain);
        const Value stored = domain.objectForKey(kIdentifierKey);
        if (stored.isString() && !stored.string().empty()) return stored.string();
        std::string identifier = MD5(serial());
        if (identifier.empty()) identifier = newUUID();
        domain.setObject(kIdentifierKey, identifier);
        domain.synchronize();
        return identifier;
    }
    auto& standard = defaults::UserDefaults::standard();
    const Value stored = standard.objectForKey(kIdentifierKey);
    if (stored.isString() && !stored.string().empty()) return stored.string();
    std::string identifier = MD5(serial());
    if (identifier.empty()) identifier = newUUID();
    standard.setObject(kIdentifierKey, identifier);
    standard.synchronize();
    return identifier;
}

void UpdateCheckerCore::processURLResponse(const std::string& data) {
    auto document = xml::XmlDocument::parse(data);
    if (!document) {
        updateFeedError();
        if (delegate) delegate->updateCheckerFailedWithError(this, nullptr);
        active = false;
        return;
    }
    xml::XmlElement best;
    int64_t bestBuild = 0;
    for (const auto& candidate : document->root().children()) {
        if (!isBuildSupported(candidate)) continue;
        const int64_t build = integerAttribute(candidate, "build");
        if (build >= bestBuild) {
            bestBuild = build;
            best = candidate;
        }
    }
    if (!best) {
        noUpdatesAvailable();
    } else {
        newVersion = float(std::strtod(best.attribute("version").c_str(), nullptr));
        newVersionBuild = int32_t(integerAttribute(best, "build"));
        Value info{ValueDictionary{}};
        info.set("build", double(newVersionBuild));
        info.set("version", double(newVersion));
        info.set("currentVersion", double(currentVersion));
        info.set("versionBuild", double(newVersionBuild));
        info.set("currentVersionBuild", double(currentVersionBuild));
        if (best.hasAttribute("manual")) info.set("manual", true);
        for (const char* key : {"downloadButtonTitle", "laterButtonTitle", "url"})
            if (best.hasAttribute(key)) info.set(key, best.attribute(key));
        if (best.hasAttribute("releasenotes")) info.set("releaseNotes", best.attribute("releasenotes"));
        info.set("date", Value::dateFromSeconds(std::strtod(best.attribute("date").c_str(), nullptr)));
        updateInfo = info;
        url = best.attribute("url");
        updatesAvailable();
    }
    active = false;
}

bool UpdateCheckerCore::isBuildSupported(const xml::XmlElement& element) {
    const int64_t build = integerAttribute(element, "build");
    if (build == 0 || build <= currentVersionBuild) return false;
    // The offer keeps the build as a 32-bit integer: a larger one would be offered as another,
    // maybe older, build than the one compared here.
    if (build > std::numeric_limits<int32_t>::max()) return false;
    if (!isUpdateTypeSupported(integerAttribute(element, "type"))) return false;
    if (!isPlatformSupported(element.attribute("platform"))) return false;
    return userInitiated || build != skippedBuild();
}

bool UpdateCheckerCore::isUpdateTypeSupported(int64_t type) {
    if (type == 0) return true;
    return std::find(supportedModes.begin(), supportedModes.end(), type) != supportedModes.end();
}

bool UpdateCheckerCore::isPlatformSupported(const std::string& platform) {
    if (platform.empty()) return true;
    const auto system = splitAtPoint(systemVersion());
    const auto wanted = splitAtPoint(platform);
    if (system.size() != 2 || wanted.size() != 2) return true;
    long sysMajor = 0, sysMinor = 0, major = 0, minor = 0;
    if (!parseInteger(system[0], sysMajor) || !parseInteger(system[1], sysMinor) || !parseInteger(wanted[0], major) ||
        !parseInteger(wanted[1], minor))
        return true;
    // Ordered pairs: 11.2 is a later system than 10.8.
    return sysMajor > major || (sysMajor == major && sysMinor >= minor);
}

int64_t UpdateCheckerCore::skippedBuild() {
    if (!preferencesDomain.empty()) return defaults::UserDefaults(preferencesDomain).objectForKey(kSkipBuildKey).intValue();
    return defaults::UserDefaults::standard().objectForKey(kSkipBuildKey).intValue();
}

float UpdateCheckerCore::skippedVersion() {
    if (!preferencesDomain.empty())
        return float(defaults::UserDefaults(preferencesDomain).objectForKey(kSkipVersionKey).doubleValue());
    return float(defaults::UserDefaults::standard().objectForKey(kSkipVersionKey).doubleValue());
}

void UpdateCheckerCore::clearSkip() {
    if (!preferencesDomain.empty()) {
        defaults::UserDefaults domain(preferencesDomain);
        domain.removeObject(kSkipBuildKey);
        domain.removeObject(kSkipVersionKey);
        domain.synchronize();
        return;
    }
    auto& standard = defaults::UserDefaults::standard();
    standard.removeObject(kSkipBuildKey);
    standard.removeObject(kSkipVersionKey);
    standard.synchronize();
}

void UpdateCheckerCore::connectionFailed(ErrorPtr error) {
    if (delegate) delegate->updateCheckerFailedWithError(this, error);
    active = false;
}

void UpdateCheckerCore::updateFeedError() {}

void UpdateCheckerCore::noUpdatesAvailable() {
    if (delegate) delegate->updateCheckerNoUpdatesAvailable(this);
}

void UpdateCheckerCore::updatesAvailable() {
    // Nothing in this system sets an external updater; that branch of the offer stays out.
    if (delegate) delegate->updateCheckerUpdatesAvailable(this);
}

void UpdateCheckerCore::downloadUpdate() {
    if (downloader) downloader->cancel();
    downloader = FileDownloader::create();
    downloader->setDelegate(this);
    downloader->downloadURL(updateInfo["url"].stringValue());
}

std::string UpdateCheckerCore::temporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp) {
        std::string folder = tmp;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        return folder;
    }
    return fs::expandTilde("~/Library/Caches/TemporaryItems");
}

bool UpdateCheckerCore::saveDataToFile(const std::string& data) {
    const std::string name = fileNameOfURL(url);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        SystemLog("Refusing to save the update as \"%@\"", name);
        return false;
    }
    const std::string temporary = temporaryDirectory();
    // A host path: $TMPDIR or the home folder, neither of them under the file-system root.
    if (!makeHostDirectories(temporary, 0700)) return false;
    const std::string base = temporary + "/" + format("%@ %.2f Update", appName, double(newVersion));
    // mkdir itself tells whether a name is free, so no folder is ever reused.
    std::string folder = base;
    bool made = false;
    for (int n = 0; n <= 999999; ++n) {
        folder = n == 0 ? base : format("%@ %d", base, n);
        if (mkdir(folder.c_str(), 0700) == 0) {
            made = true;
            break;
        }
        if (errno != EEXIST) break;
    }
    if (!made) {
        SystemLog("Could not make a folder for the update in %@", temporary);
        return false;
    }
    archivePath = folder + "/" + name;
    int fd = open(archivePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = writeAll(fd, data);
    return close(fd) == 0 && written;
}

std::string UpdateCheckerCore::payloadPath() {
    if (archivePath.empty()) return {};
    if (!FileUnarchiver::unarchive(archivePath)) return {};
    const size_t slash = archivePath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : archivePath.substr(0, slash);
    for (const auto& name : installFiles)
        if (existsNoFollow(folder + "/" + name)) return folder + "/" + name;
    return findPayload(folder, "", 0);
}

void UpdateCheckerCore::fileDownloadFailed(FileDownloader*) {
    downloader.reset();
    active = false;
    if (delegate) delegate->updateCheckerDownloadFailed(this);
}

bool UpdateCheckerCore::fileDownloadReadData(FileDownloader*, const std::string& data) {
    active = false;
    if (!saveDataToFile(data)) {
        // A download that cannot be kept failed as much as one that never came.
        if (delegate) delegate->updateCheckerDownloadFailed(this);
        return false;
    }
    if (delegate) delegate->updateCheckerDownloadComplete(this);
    return true;
}

void UpdateCheckerCore::fileDownloadDownloadedBytes(FileDownloader*, double, double) {}

void UpdateCheckerCore::fileDownloadFinished(FileDownloader*) { downloader.reset(); }

}  // namespace telvo::update
