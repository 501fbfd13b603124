#include "update/CurlLibrary.h"

#include <dlfcn.h>

#include <mutex>

namespace telvo::update {
namespace {

std::mutex gMutex;
CurlLibrary gLibrary;
void* gHandle = nullptr;

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
    if (!gHandle && !load(why_)) return;
    library_ = &gLibrary;
}

// Once loaded, libcurl stays: unloading it (and the TLS, Kerberos and LDAP libraries it brings)
// while threads that ran a transfer live on leaves those threads' thread-local blocks and key
// destructors pointing into unmapped code.
CurlLibrary::Use::~Use() = default;

bool CurlLibrary::loaded() {
    std::lock_guard lock(gMutex);
    return gHandle != nullptr;
}

}  // namespace telvo::update
