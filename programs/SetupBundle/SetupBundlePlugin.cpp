// The plug-in's entry: the C table over SetupBundleInstaller. Its platform copies are its
// own; the first object made names them after the plug-in's bundle.
#include <dlfcn.h>

#include <cstring>
#include <mutex>
#include <string>
#include "platform/process/ProcessIdentity.h"
#include "platform/values/PropertyList.h"
#include "setup/SetupBundleInstaller.h"
#include "setup/SetupBundleTable.h"

using telvo::setup::SetupBundleInstaller;

namespace {

// The bundle of this module ("<bundle>/Contents/MacOS/SetupBundle.so"): its identifier names
// the plug-in's logs.
void nameAfterBundle() {
    static std::once_flag once;
    std::call_once(once, [] {
        Dl_info info{};
        if (!dladdr(reinterpret_cast<void*>(&nameAfterBundle), &info) || !info.dli_fname) return;
        std::string path = info.dli_fname;
        for (int i = 0; i < 2 && path.find('/') != std::string::npos; ++i) path.erase(path.find_last_of('/'));
        telvo::Value plist = telvo::plist::readFile(path + "/Info.plist", nullptr, 1 << 20);
        const std::string identifier = plist["CFBundleIdentifier"].string();
        telvo::platform::ProcessIdentity::setBundleIdentifier(identifier.empty() ? "com.kestro.telvoserver.SetupBundle"
                                                                                 : identifier);
    });
}

SetupBundleInstaller* as(void* object) { return static_cast<SetupBundleInstaller*>(object); }

template <class F>
void guarded(F&& f) noexcept {
    try {
        f();
    } catch (...) {
    }
}

SetupBundleInstaller::Reply toReply(TelvoSetupBundleReply reply, void* context) {
    return [reply, context](long value) noexcept {
        if (reply) guarded([&] { reply(context, value); });
    };
}

const TelvoSetupBundleTable kTable = {
    TELVO_SETUP_BUNDLE_TABLE_VERSION,
    sizeof(TelvoSetupBundleTable),
    []() noexcept -> void* {
        void* made = nullptr;
        guarded([&] {
            nameAfterBundle();
            made = new SetupBundleInstaller();
        });
        return made;
    },
    [](void* o, const char* path) noexcept { guarded([&] { if (o && path) as(o)->setCurrentLocation(path); }); },
    [](void* o, int exclude) noexcept { guarded([&] { if (o) as(o)->setExcludeAgent(exclude != 0); }); },
    [](void* o, const char* path) noexcept -> int {
        int yes = 0;
        guarded([&] { yes = o && path && as(o)->isHelperInstalled(path) ? 1 : 0; });
        return yes;
    },
    [](void* o, const char* path, TelvoSetupBundleReply reply, void* context) noexcept {
        guarded([&] {
            if (o && path) as(o)->xpcInstallFromPath(path, toReply(reply, context));
            else if (reply) reply(context, -1);
        });
    },
    [](void* o, const char* path, TelvoSetupBundleReply reply, void* context) noexcept {
        guarded([&] {
            if (o && path) as(o)->xpcUninstallWithBundle(path, toReply(reply, context));
            else if (reply) reply(context, -1);
        });
    },
    [](void* o, char* buffer, size_t size) noexcept -> size_t {
        size_t length = 0;
        guarded([&] {
            if (!o) return;
            const std::string& location = as(o)->installLocation;
            length = location.size();
            if (buffer && size > 0) {
                size_t n = std::min(length, size - 1);
                std::memcpy(buffer, location.data(), n);
                buffer[n] = '\0';
            }
        });
        return length;
    },
    [](void* o) noexcept { guarded([&] { if (o) as(o)->destroy(); }); },
    [](void* o) noexcept { guarded([&] { delete as(o); }); },
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const TelvoSetupBundleTable* SetupBundleInstaller(uint32_t version) {
    return version == TELVO_SETUP_BUNDLE_TABLE_VERSION ? &kTable : nullptr;
}
