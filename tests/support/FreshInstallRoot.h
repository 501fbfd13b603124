#pragma once
// What every end-to-end install test needs around a fresh file-system root, in one place: this
// process in network and mount namespaces of its own (loopback only, the system bus hidden),
// a real user made with useradd whose home is inside the root, and the maker's test anchor in
// the root's anchor store, as root's.
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

namespace telvo::testing {

// This process (and what it starts) in a network namespace with only loopback up, and a mount
// namespace where the system bus is an empty folder. Each test runs in a process of its own.
inline bool enterPrivateNetworkAndBus(std::string& why) {
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        why = std::string("cannot make network and mount namespaces: ") + std::strerror(errno);
        return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        (std::filesystem::exists("/run/dbus") && ::mount("tmpfs", "/run/dbus", "tmpfs", 0, "size=64k") != 0)) {
        why = std::string("cannot hide the system bus: ") + std::strerror(errno);
        return false;
    }
    if (std::system("ip link set lo up") != 0) {
        why = "cannot bring loopback up in the new network namespace";
        return false;
    }
    return true;
}

// A user "tvs<n>" whose home is "/Users/<name>" inside the root (made by useradd -m); false
// when useradd failed. The caller removes it with removeTestUser().
struct TestUser {
    std::string name, home;  // home: the logical path
    uid_t uid = 0;
    gid_t gid = 0;
};
inline bool makeTestUser(const std::string& root, TestUser& user) {
    std::random_device random;
    user.name = "tvs" + std::to_string(random() % 1000000);
    user.home = "/Users/" + user.name;
    std::filesystem::create_directories(root + "/Users");
    if (std::system(("useradd -m -d '" + root + user.home + "' " + user.name + " >/dev/null 2>&1").c_str()) != 0) return false;
    struct passwd* pw = ::getpwnam(user.name.c_str());
    if (!pw) return false;
    user.uid = pw->pw_uid;
    user.gid = pw->pw_gid;
    return true;
}
inline void removeTestUser(const TestUser& user) {
    if (!user.name.empty()) std::system(("userdel " + user.name + " >/dev/null 2>&1").c_str());
}

// The anchor PEM as "/etc/telvo/codesign/anchors/maker.pem" of the root, every folder on the
// way root's and 0755, the file 0644.
inline bool installMakersAnchor(const std::string& root, const std::string& anchorPem) {
    const std::string anchors = root + "/etc/telvo/codesign/anchors";
    std::filesystem::create_directories(anchors);
    return std::system(("cp '" + anchorPem + "' '" + anchors + "/maker.pem' && chmod 755 '" + root + "/etc' '" + root +
                        "/etc/telvo' '" + root + "/etc/telvo/codesign' '" + anchors + "' && chmod 644 '" + anchors +
                        "/maker.pem'")
                           .c_str()) == 0;
}

}  // namespace telvo::testing
