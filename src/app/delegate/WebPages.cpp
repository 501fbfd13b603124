#include "app/delegate/WebPages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/PropertyList.h"

namespace telvo::app {

std::string WebPages::page(const char* scheme, const char* path) {
    return std::string(scheme) + "://" + TELVO_WEB_HOST + path;
}

std::string WebPages::socialPage() { return std::string("https://") + TELVO_SOCIAL_PAGE; }

std::string WebPages::updateFeed(std::string* caFile) {
    std::string feed = std::string("https://") + TELVO_UPDATE_HOST + "/telvoserver3/version.php";
    if (caFile) caFile->clear();
    const std::string path = fs::resolve(kSettingsPath);
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return feed;
    struct stat st {};
    std::string text;
    const bool trusted = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 && !(st.st_mode & 022);
    if (trusted) fs::readDescriptor(fd, text, 1 << 20);
    ::close(fd);
    if (!trusted) {
        SystemLog("Ignoring %@: not a root-owned file that only root may write", path);
        return feed;
    }
    Value settings = plist::parse(text);
    if (settings["UpdateFeed"].isString()) feed = settings["UpdateFeed"].string();
    if (caFile && settings["UpdateCAFile"].isString()) *caFile = fs::resolve(settings["UpdateCAFile"].string());
    return feed;
}

}  // namespace telvo::app
