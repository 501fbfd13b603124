#include "platform/notify/DistributedNotificationCenter.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::notify {

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter() {
    static DistributedNotificationCenter center;
    return center;
}

const char* DistributedNotificationCenter::runFolder() { return "/var/run/telvo/notifications"; }

std::string DistributedNotificationCenter::encode(const std::string& name, const Value& userInfo) {
    std::string out = name;
    out.push_back('\0');
    if (!userInfo.isNull()) out += plist::serialize(userInfo);
    return out;
}

bool DistributedNotificationCenter::decode(const std::string& datagram, std::string& name, Value& userInfo) {
    auto zero = datagram.find('\0');
    if (zero == std::string::npos || zero == 0) return false;
    name = datagram.substr(0, zero);
    userInfo = Value();
    if (zero + 1 < datagram.size()) {
        ErrorPtr error;
        userInfo = plist::parse(datagram.substr(zero + 1), &error);
        if (error) return false;
    }
    return true;
}

int DistributedNotificationCenter::postNotification(const std::string& name, const Value& userInfo) {
    std::string folder = fs::resolve(runFolder());
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    std::string datagram = encode(name, userInfo);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ::closedir(dir);
        return 0;
    }
    int delivered = 0;
    while (dirent* entry = ::readdir(dir)) {
        std::string file = entry->d_name;
        if (file.size() < 6 || file.compare(file.size() - 5, 5, ".sock") != 0) continue;
        std::string path = folder + "/" + file;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path.size() >= sizeof addr.sun_path) continue;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        ssize_t n = ::sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                             reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        if (n == ssize_t(datagram.size()))
            ++delivered;
        else if (n < 0 && errno == ECONNREFUSED)
            ::unlink(path.c_str());  // its listener is gone
    }
    ::close(fd);
    ::closedir(dir);
    return delivered;
}

}  // namespace telvo::notify
