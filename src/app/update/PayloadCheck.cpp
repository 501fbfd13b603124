#include "app/update/PayloadCheck.h"

#include "platform/codesign/Code.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Status.h"
#include "platform/fs/Root.h"
#include "update/HostFiles.h"

namespace telvo::app {

bool checkUpdatePayload(const std::string& path, int64_t offeredBuild, ErrorPtr* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = makeError("UpdateChecker", 1, why);
        return false;
    };
    auto requirement = codesign::Requirement::parse(std::string("anchor apple generic and identifier \"") +
                                                    kApplicationSigningIdentifier + "\"");
    if (!requirement) return fail("the maker's requirement does not parse");
    // The signature layer reads under the file-system root.
    std::string logical;
    if (!fs::logicalPath(path, logical)) return fail(path + " is outside the file-system root " + fs::root());
    int32_t status = 0;
    codesign::CodePtr code = codesign::Code::createWithPath(logical, status);
    if (!code) return fail(path + " is not there");
    Value signature;
    std::string detail;
    status = code->checkValidity(*requirement, signature, detail);
    if (status != codesign::kStatusOK) return fail(path + " is not the maker's signed application: " + detail);
    // The seal covers Info.plist, so what is read now is what was signed.
    const Value info = update::readHostPropertyList(path + "/Contents/Info.plist");
    if (info["CFBundleIdentifier"].stringValue() != kApplicationBundleIdentifier)
        return fail(path + " is another application (" + info["CFBundleIdentifier"].stringValue() + ")");
    const int64_t build = info["CFBundleVersion"].intValue();
    if (build != offeredBuild)
        return fail(path + " is build " + std::to_string(build) + ", not the build " + std::to_string(offeredBuild) +
                    " offered");
    return true;
}

}  // namespace telvo::app
