#include "platforms/PlatformController.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/registry/Registry.h"
#include "platform/registry/SysfsRegistry.h"
#include "platforms/FauxMac.h"
#include "sensors/SMCValueDecoder.h"

namespace telvo {
namespace {

std::mutex gMutex;
std::unique_ptr<PlatformController>& shared() {
    static std::unique_ptr<PlatformController> c;
    return c;
}
std::map<std::string, const PlatformModel*>& models() {
    static std::map<std::string, const PlatformModel*> m;
    return m;
}

}  // namespace

PlatformMacPtr PlatformController::currentPlatform() {
    // One creation at a time (the once-guard); the tables' lock is taken inside it.
    static std::mutex creation;
    std::lock_guard<std::mutex> once(creation);
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (shared()) return shared()->platform_;
    }
    std::unique_ptr<PlatformController> made(new PlatformController());
    std::lock_guard<std::mutex> lock(gMutex);
    shared() = std::move(made);
    return shared()->platform_;
}

PlatformController* PlatformController::sharedPlatformController() {
    std::lock_guard<std::mutex> lock(gMutex);
    return shared().get();
}

void PlatformController::registerModels(std::span<const PlatformModel* const> list) {
    std::lock_guard<std::mutex> lock(gMutex);
    for (const PlatformModel* m : list)
        if (m && m->className) models().emplace(m->className, m);
}

const PlatformModel* PlatformController::registeredModel(const std::string& className) {
    std::lock_guard<std::mutex> lock(gMutex);
    auto it = models().find(className);
    return it == models().end() ? nullptr : it->second;
}

void PlatformController::resetForTesting() {
    std::lock_guard<std::mutex> lock(gMutex);
    shared().reset();
    models().clear();
    smcvalues::setEmulatedSMC(false);
}

std::optional<std::string> PlatformController::readModelIdentifier() {
    const std::string path = registry::sysfsRoot() + "/class/dmi/id/product_name";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buf[130];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0) return std::nullopt;
    std::string text(buf, size_t(n));
    // The attribute ends with a line feed, which is not part of the name.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (text.size() > 128) return std::nullopt;
    size_t b = text.find_first_not_of(' ');
    size_t e = text.find_last_not_of(' ');
    if (b == std::string::npos) return std::nullopt;
    text = text.substr(b, e - b + 1);
    for (unsigned char ch : text)
        if (ch < 0x20 || ch > 0x7e) return std::nullopt;
    return text;
}

bool PlatformController::isLaptop() {
    auto id = readModelIdentifier();
    if (!id) return false;
    std::string lower = *id;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
    return lower.rfind("macbook", 0) == 0;
}

PlatformController::PlatformController() {
    auto registry = registry::Registry::shared();
    faux_ = registry && !registry->matchingServices(registry::Registry::serviceMatching("FakeSMC")).empty();
    smcvalues::setEmulatedSMC(faux_);
    loadCurrentPlatform();
}

void PlatformController::loadCurrentPlatform() {
    modelIdentifier_ = readModelIdentifier();
    std::string className = modelIdentifier_.value_or("");
    std::replace(className.begin(), className.end(), ',', '_');
    if (faux_) className = "FauxMac";
    platform_ = platformForClassName(className);
}

PlatformMacPtr PlatformController::platformForClassName(const std::string& className) {
    if (className == "FauxMac") return std::make_shared<FauxMac>();
    if (className == "PlatformiMac") return std::make_shared<PlatformiMac>();
    if (className == "PlatformMacPro") return std::make_shared<PlatformMacPro>();
    if (const PlatformModel* m = registeredModel(className)) {
        switch (m->base) {
        case PlatformBase::iMac:
            return std::make_shared<PlatformiMac>(*m);
        case PlatformBase::MacPro:
            return std::make_shared<PlatformMacPro>(*m);
        case PlatformBase::Mac:
            break;
        }
        return std::make_shared<PlatformMac>(*m);
    }
    return std::make_shared<PlatformMac>();
}

}  // namespace telvo
