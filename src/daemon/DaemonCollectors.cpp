#include "daemon/DaemonCollectors.h"

#include <fstream>

#include "foundation/KXRVersions.h"
#include "platform/values/Format.h"

namespace telvo {

namespace {

std::string dmiProductName() {
    std::ifstream in("/sys/class/dmi/id/product_name");
    std::string model;
    if (!in || !std::getline(in, model)) return "";
    return model;
}

}  // namespace

DaemonCollectors makeDaemonCollectors() {
    DaemonCollectors c;
    c.modelIdentifier = dmiProductName;
    c.osVersion = [] {
        const KXRVersions& v = KXRVersions::sharedVersions();
        return format("%d.%d.%d", int(v.major()), int(v.minor()), int(v.bugfix()));
    };
    return c;
}

}  // namespace telvo
