#pragma once
// Access to the attribute files of the applesmc driver's device folder
// ("/sys/devices/platform/applesmc.768"): the real files, or a fake in tests. Each call opens,
// reads or writes, and closes one attribute, as sysfs expects.
#include <memory>
#include <string>

namespace telvo::smc {

class AppleSMCFiles {
public:
    virtual ~AppleSMCFiles() = default;
    // The attribute's whole contents (binary for "key_at_index_data"); false when unreadable.
    virtual bool read(const std::string& attribute, std::string& contents) = 0;
    // Writes the text in one write; false on failure.
    virtual bool write(const std::string& attribute, const std::string& text) = 0;
};

using AppleSMCFilesPtr = std::shared_ptr<AppleSMCFiles>;

// The driver's folder under the sysfs root in use.
std::string appleSMCFolder();
// The files of the folder at `folder`.
AppleSMCFilesPtr sysfsAppleSMCFiles(const std::string& folder = appleSMCFolder());

}  // namespace telvo::smc
