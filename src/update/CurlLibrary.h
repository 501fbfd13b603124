#pragma once
// libcurl loaded by the first transfer (dlopen of "libcurl.so.4", the OpenSSL build), not at
// start: the agent waits its first hour for its first check, and libcurl with what it brings
// (its TLS, LDAP and Kerberos libraries) would otherwise be mapped into it all that time. Once
// loaded it stays (see CurlLibrary.cpp).
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
