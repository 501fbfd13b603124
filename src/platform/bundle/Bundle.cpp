#include "platform/bundle/Bundle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::bundle {

Bundle Bundle::withPath(const std::string& path, ErrorPtr* error) {
    Bundle b;
    b.path_ = path;
    while (b.path_.size() > 1 && b.path_.back() == '/') b.path_.pop_back();
    const std::string infoPath = b.path_ + "/Contents/Info.plist";
    int fd = ::open(fs::resolve(infoPath).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    std::string text;
    bool read = fd >= 0 && fs::readDescriptor(fd, text, size_t(1) << 20);
    int err = errno;
    if (fd >= 0) ::close(fd);
    if (!read) {
        if (error) *error = makeError("NSPOSIXErrorDomain", err, "cannot read " + infoPath + ": " + std::strerror(err));
        return b;
    }
    ErrorPtr parseError;
    b.info_ = plist::parse(text, &parseError);
    if (parseError || !b.info_.isDictionary()) {
        if (error) *error = parseError ? parseError : makeError("NSCocoaErrorDomain", 3840, infoPath + " holds no dictionary");
        b.info_ = Value();
        return b;
    }
    if (error) error->reset();
    return b;
}

std::string Bundle::executablePath() const {
    const std::string name = info_["CFBundleExecutable"].string();
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return {};
    return path_ + "/Contents/MacOS/" + name;
}

}  // namespace telvo::bundle
