#include "agent/AgentSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/PropertyList.h"

namespace telvo::agent {

AgentSettings AgentSettings::load() {
    AgentSettings s;
    s.feed = std::string("https://") + TELVO_UPDATE_HOST + "/telvoserver3/version.php";
    s.productPage = TELVO_PRODUCT_PAGE;
    s.serviceName = std::string(TELVO_MAKER_TEAM) + ".com.kestro.telvo.server.agent";

    const std::string path = fs::resolve(kPath);
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return s;
    struct stat st;
    std::string text;
    const bool trusted = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 && !(st.st_mode & 022);
    if (trusted) fs::readDescriptor(fd, text, 1 << 20);
    close(fd);
    if (!trusted) {
        SystemLog("Ignoring %@: not a root-owned file that only root may write", path);
        return s;
    }
    Value v = plist::parse(text);
    if (v["UpdateFeed"].isString()) s.feed = v["UpdateFeed"].string();
    if (v["UpdateCAFile"].isString()) s.caFile = fs::resolve(v["UpdateCAFile"].string());
    if (v["ProductPage"].isString()) s.productPage = v["ProductPage"].string();
    return s;
}

}  // namespace telvo::agent
