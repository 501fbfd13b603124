#include "update/RootSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/PropertyList.h"

namespace telvo::update {

Value readRootSettings(const char* literalPath) {
    const std::string path = fs::resolve(literalPath);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Value();
    struct stat st {};
    std::string text;
    const bool trusted = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 && !(st.st_mode & 022);
    if (trusted) fs::readDescriptor(fd, text, kRootSettingsLimit);
    ::close(fd);
    if (!trusted) {
        SystemLog("Ignoring %@: not a root-owned file that only root may write", path);
        return Value();
    }
    return plist::parse(text);
}

}  // namespace telvo::update
