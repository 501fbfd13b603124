#pragma once
// The privileged helper's own copy of the application a caller installs from: copied once,
// without following links, into a new folder of root's (0700) under kStagingFolder, then
// checked there (the whole bundle's signature and the application's requirement, and a build
// no older than the installed agent's). Every copy of the connection reads from it, so the
// caller cannot change what root copies after the check. Removed when the connection's last
// message has run.
#include <string>

namespace telvo::helper {

class HelperStaging {
public:
    static constexpr const char* kStagingFolder = "/var/db/telvo/installerhelper";
    static constexpr const char* kInstalledAgentInfo =
        "/Library/Application Support/Telvo Server/TelvoServerAgent.app/Contents/Info.plist";

    explicit HelperStaging(std::string requirement) : requirement_(std::move(requirement)) {}
    ~HelperStaging();
    HelperStaging(const HelperStaging&) = delete;
    HelperStaging& operator=(const HelperStaging&) = delete;

    // The source of a copy in the staged application: stages `application` (the outermost
    // ".app" of `source`) on first use. False with `why` when it cannot be staged or checked,
    // or when `source` lies in another application than the one staged.
    bool stagedSource(const std::string& source, std::string& staged, std::string& why);
    bool staged() const { return !folder_.empty(); }
    // The staged application's logical path (empty before).
    std::string stagedApplication() const;
    void remove();

private:
    bool stage(const std::string& application, std::string& why);

    std::string requirement_;
    std::string application_;  // the caller's
    std::string folder_;       // the staging folder, logical
    bool failed_ = false;
    std::string failure_;
};

}  // namespace telvo::helper
