#pragma once
// libcurl loaded while transfers run (dlopen of "libcurl.so.4", the OpenSSL build), not for
// the whole life of the program: the agent waits most of its life for its next check, and
// libcurl with what it brings (its TLS, LDAP and Kerberos libraries) would otherwise stay
// mapped into it all that time. The first of the transfers alive at once loads and initialises
// it, the last one cleans it up and unloads it.
#include <curl/curl.h>

#include <string>

namespace telvo::update {

struct CurlLibrary {
    CURLcode (*global_init)(long flags);
    void (*global_cleanup)();
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    CURLcode (*easy_perform)(CURL*);
    void (*easy_cleanup)(CURL*);
    const char* (*easy_strerror)(CURLcode);

    // One transfer's hold on the library: loaded for it, or null with why().
    class Use {
    public:
        Use();
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        const CurlLibrary* get() const { return library_; }
        const std::string& why() const { return why_; }

    private:
        const CurlLibrary* library_ = nullptr;
        std::string why_;
    };

    // Whether it is loaded now (tests of what an idle program keeps mapped).
    static bool loaded();
};

}  // namespace telvo::update
