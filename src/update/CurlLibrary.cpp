#include "update/CurlLibrary.h"

#include <dlfcn.h>

#include <mutex>

namespace telvo::update {
namespace {

std::mutex gMutex;
CurlLibrary gLibrary;
void* gHandle = nullptr;
int gUses = 0;

template <typename F>
bool bind(void* handle, const char* name, F& slot, std::string& why) {
    slot = reinterpret_cast<F>(dlsym(handle, name));
    if (!slot) why = std::string("libcurl has no ") + name;
    return slot != nullptr;
}

// Under gMutex.
bool load(std::string& why) {
    void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = dlerror();
        why = std::string("cannot load libcurl: ") + (e ? e : "unknown error");
        return false;
    }
    CurlLibrary& l = gLibrary;
    bool ok = bind(handle, "curl_global_init", l.global_init, why) &&
              bind(handle, "curl_global_cleanup", l.global_cleanup, why) &&
              bind(handle, "curl_easy_init", l.easy_init, why) && bind(handle, "curl_easy_setopt", l.easy_setopt, why) &&
              bind(handle, "curl_easy_getinfo", l.easy_getinfo, why) &&
              bind(handle, "curl_easy_perform", l.easy_perform, why) &&
              bind(handle, "curl_easy_cleanup", l.easy_cleanup, why) &&
              bind(handle, "curl_easy_strerror", l.easy_strerror, why);
    if (ok && l.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        ok = false;
        why = "libcurl could not be initialised";
    }
    if (!ok) {
        dlclose(handle);
        return false;
    }
    gHandle = handle;
    return true;
}

}  // namespace

CurlLibrary::Use::Use() {
    std::lock_guard lock(gMutex);
    if (gUses == 0 && !load(why_)) return;
    ++gUses;
    library_ = &gLibrary;
}

CurlLibrary::Use::~Use() {
    if (!library_) return;
    std::lock_guard lock(gMutex);
    if (--gUses > 0) return;
    gLibrary.global_cleanup();
    dlclose(gHandle);
    gHandle = nullptr;
}

bool CurlLibrary::loaded() {
    std::lock_guard lock(gMutex);
    return gHandle != nullptr;
}

}  // namespace telvo::update
