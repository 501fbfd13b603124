// Verifying and loading the plug-in module through one descriptor.
#include "setup/SetupBundleLoader.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <vector>
#include "platform/bundle/Bundle.h"
#include "platform/codesign/Code.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Status.h"
#include "platform/fs/Root.h"

namespace telvo::setup {

namespace {

ErrorPtr refusal(const std::string& why) { return makeError("SetupBundle", 1, why); }

codesign::RequirementPtr makerRequirement() {
    return codesign::Requirement::parse(std::string("anchor apple generic and identifier \"") + kSetupBundleIdentifier + "\"");
}

bool meets(const Value& info, const codesign::Requirement& requirement) {
    codesign::RequirementContext context;
    context.identifier = info["identifier"].string();
    for (const auto& d : info["certificates"].array()) context.chain.emplace_back(d.bytes().begin(), d.bytes().end());
    context.anchored = true;
    return requirement.evaluate(context);
}

}  // namespace

SetupBundlePlugin loadSetupBundle(const std::string& application, ErrorPtr* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = refusal(why);
        return SetupBundlePlugin();
    };
    const std::string bundlePath = application + "/Contents/Resources/SetupBundle.bundle";
    ErrorPtr readError;
    bundle::Bundle plugin = bundle::Bundle::withPath(bundlePath, &readError);
    if (readError) return fail(readError->message);
    const std::string module = plugin.executablePath();
    if (module.empty()) return fail(bundlePath + " names no executable");
    codesign::RequirementPtr requirement = makerRequirement();
    if (!requirement) return fail("the maker's requirement does not parse");

    // The bundle: its seal covers every file in it.
    int32_t status = 0;
    codesign::CodePtr code = codesign::Code::createWithPath(bundlePath, status);
    if (!code) return fail(bundlePath + " is not there");
    Value info;
    std::string detail;
    status = code->checkValidity(*requirement, info, detail);
    if (status != codesign::kStatusOK) return fail(bundlePath + " is not the maker's signed plug-in: " + detail);

    // The module: opened once, checked through that descriptor, loaded through it.
    int fd = ::open(fs::resolve(module).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return fail("cannot open " + module + ": " + std::strerror(errno));
    Value moduleInfo;
    status = codesign::checkExecutableFile(fd, moduleInfo, detail);
    if (status != codesign::kStatusOK || !meets(moduleInfo, *requirement)) {
        ::close(fd);
        return fail(module + " is not the maker's signed module: " +
                    (status != codesign::kStatusOK ? detail : "signed as \"" + moduleInfo["identifier"].string() + "\""));
    }
    const std::string through = "/proc/self/fd/" + std::to_string(fd);
    void* handle = ::dlopen(through.c_str(), RTLD_NOW | RTLD_LOCAL);
    ::close(fd);
    if (!handle) {
        const char* why = ::dlerror();
        return fail("cannot load " + module + ": " + (why ? why : "?"));
    }
    // Never unloaded: its queues and threads live as long as the process.
    auto entry = reinterpret_cast<TelvoSetupBundleEntry>(::dlsym(handle, TELVO_SETUP_BUNDLE_SYMBOL));
    if (!entry) return fail(module + " exports no " TELVO_SETUP_BUNDLE_SYMBOL);
    const TelvoSetupBundleTable* table = entry(TELVO_SETUP_BUNDLE_TABLE_VERSION);
    if (!table || table->version != TELVO_SETUP_BUNDLE_TABLE_VERSION || table->size < sizeof(TelvoSetupBundleTable))
        return fail(module + " offers no table of version " + std::to_string(TELVO_SETUP_BUNDLE_TABLE_VERSION));
    auto loaded = std::make_shared<LoadedSetupBundle>();
    loaded->bundlePath = bundlePath;
    loaded->table = table;
    if (error) error->reset();
    return loaded;
}

SetupBundleClient::SetupBundleClient(SetupBundlePlugin plugin) : plugin_(std::move(plugin)) {
    if (plugin_ && plugin_->table) object_ = plugin_->table->create();
}

SetupBundleClient::~SetupBundleClient() {
    if (object_) plugin_->table->release(object_);
}

void SetupBundleClient::setCurrentLocation(const std::string& path) {
    if (object_) plugin_->table->setCurrentLocation(object_, path.c_str());
}

void SetupBundleClient::setExcludeAgent(bool exclude) {
    if (object_) plugin_->table->setExcludeAgent(object_, exclude ? 1 : 0);
}

bool SetupBundleClient::isHelperInstalled(const std::string& application) {
    return object_ && plugin_->table->isHelperInstalled(object_, application.c_str()) != 0;
}

void SetupBundleClient::deliver(void* context, long value) {
    auto* self = static_cast<SetupBundleClient*>(context);
    if (self->reply_) self->reply_(value);
}

void SetupBundleClient::xpcInstallFromPath(const std::string& application, Reply reply) {
    if (!object_) {
        if (reply) reply(-1);
        return;
    }
    reply_ = std::move(reply);
    plugin_->table->installFromPath(object_, application.c_str(), &SetupBundleClient::deliver, this);
}

void SetupBundleClient::xpcUninstallWithBundle(const std::string& application, Reply reply) {
    if (!object_) {
        if (reply) reply(-1);
        return;
    }
    reply_ = std::move(reply);
    plugin_->table->uninstallWithBundle(object_, application.c_str(), &SetupBundleClient::deliver, this);
}

std::string SetupBundleClient::installLocation() const {
    if (!object_) return {};
    size_t length = plugin_->table->copyInstallLocation(object_, nullptr, 0);
    std::vector<char> buffer(length + 1);
    plugin_->table->copyInstallLocation(object_, buffer.data(), buffer.size());
    return std::string(buffer.data(), length);
}

void SetupBundleClient::destroy() {
    if (object_) plugin_->table->destroy(object_);
}

}  // namespace telvo::setup
