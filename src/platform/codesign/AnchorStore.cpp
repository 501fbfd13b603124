// Reading the anchor store.
#include "platform/codesign/AnchorStore.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include "platform/codesign/Status.h"
#include "platform/fs/Root.h"

namespace telvo::codesign {

namespace {

std::mutex& folderMutex() {
    static std::mutex m;
    return m;
}
std::string& folderOverride() {
    static std::string f;
    return f;
}

}  // namespace

void setAnchorFolder(const std::string& hostFolder) {
    std::lock_guard<std::mutex> lock(folderMutex());
    folderOverride() = hostFolder;
}

ErrorPtr checkTrustedPath(const std::string& host, bool folder) {
    struct stat st{};
    if (lstat(host.c_str(), &st) != 0)
        return makeError("CodesignErrorDomain", kStatusNoAnchors, "cannot inspect " + host + ": " + std::strerror(errno));
    if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
        return makeError("CodesignErrorDomain", kStatusNoAnchors, "not a " + std::string(folder ? "folder" : "file") + ": " + host);
    if (st.st_uid != 0 && st.st_uid != geteuid())
        return makeError("CodesignErrorDomain", kStatusNoAnchors, "owned by another user: " + host);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return makeError("CodesignErrorDomain", kStatusNoAnchors, "writable by others: " + host);
    return nullptr;
}

bool loadAnchors(std::vector<std::string>& ders, ErrorPtr* error) {
    std::string host;
    {
        std::lock_guard<std::mutex> lock(folderMutex());
        host = folderOverride().empty() ? fs::resolve(kAnchorFolder) : folderOverride();
    }
    if (ErrorPtr e = checkTrustedPath(host, true)) {
        if (error) *error = e;
        return false;
    }
    DIR* dir = opendir(host.c_str());
    if (!dir) {
        if (error) *error = makeError("CodesignErrorDomain", kStatusNoAnchors, "cannot read " + host);
        return false;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        std::string n = e->d_name;
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pem") == 0) names.push_back(n);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    std::vector<std::string> found;
    for (const auto& name : names) {
        std::string path = host + "/" + name;
        if (ErrorPtr e = checkTrustedPath(path, false)) {
            if (error) *error = e;
            return false;
        }
        FILE* f = fopen(path.c_str(), "re");
        if (!f) {
            if (error) *error = makeError("CodesignErrorDomain", kStatusNoAnchors, "cannot read " + path);
            return false;
        }
        while (X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr)) {
            unsigned char* der = nullptr;
            int n = i2d_X509(cert, &der);
            if (n > 0) found.emplace_back(reinterpret_cast<char*>(der), size_t(n));
            OPENSSL_free(der);
            X509_free(cert);
        }
        fclose(f);
    }
    ders = std::move(found);
    return true;
}

}  // namespace telvo::codesign
