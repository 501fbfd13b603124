#include "platform/smc/AppleSMCFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/registry/SysfsRegistry.h"

namespace telvo::smc {
namespace {

class SysfsFiles : public AppleSMCFiles {
public:
    explicit SysfsFiles(std::string folder) : folder_(std::move(folder)) {}

    bool read(const std::string& attribute, std::string& contents) override {
        int fd = ::open((folder_ + "/" + attribute).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        contents.clear();
        char buf[256];
        bool ok = true;
        while (true) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            contents.append(buf, static_cast<size_t>(n));
            if (contents.size() > 4096) break;
        }
        ::close(fd);
        return ok;
    }

    bool write(const std::string& attribute, const std::string& text) override {
        int fd = ::open((folder_ + "/" + attribute).c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return false;
        ssize_t n;
        do {
            n = ::write(fd, text.data(), text.size());
        } while (n < 0 && errno == EINTR);
        ::close(fd);
        return n == static_cast<ssize_t>(text.size());
    }

private:
    std::string folder_;
};

}  // namespace

std::string appleSMCFolder() { return registry::sysfsRoot() + "/devices/platform/applesmc.768"; }

AppleSMCFilesPtr sysfsAppleSMCFiles(const std::string& folder) { return std::make_shared<SysfsFiles>(folder); }

}  // namespace telvo::smc
