#include "agent/DownloadCheck.h"

#include "platform/codesign/Code.h"
#include "platform/codesign/Requirement.h"
#include "platform/codesign/Status.h"
#include "platform/values/PropertyList.h"

namespace telvo::agent {

bool checkDownloadedApplication(const std::string& path, int64_t offeredBuild, int64_t currentBuild, ErrorPtr* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = makeError("DownloadCheck", 1, why);
        return false;
    };
    auto requirement = codesign::Requirement::parse(std::string("anchor apple generic and identifier \"") +
                                                    kApplicationSigningIdentifier + "\"");
    if (!requirement) return fail("the maker's requirement does not parse");
    int32_t status = 0;
    codesign::CodePtr code = codesign::Code::createWithPath(path, status);
    if (!code) return fail(path + " is not there");
    Value signature;
    std::string detail;
    status = code->checkValidity(*requirement, signature, detail);
    if (status != codesign::kStatusOK) return fail(path + " is not the maker's signed application: " + detail);
    // The seal covers Info.plist, so what is read now is what was signed.
    Value info = plist::readFile(path + "/Contents/Info.plist");
    if (info["CFBundleIdentifier"].stringValue() != kApplicationBundleIdentifier)
        return fail(path + " is another application (" + info["CFBundleIdentifier"].stringValue() + ")");
    const int64_t build = info["CFBundleVersion"].intValue();
    if (build != offeredBuild || build <= currentBuild)
        return fail(path + " is build " + std::to_string(build) + ", not the build " + std::to_string(offeredBuild) +
                    " offered above " + std::to_string(currentBuild));
    return true;
}

}  // namespace telvo::agent
