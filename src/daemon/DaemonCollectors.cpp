#include "daemon/DaemonCollectors.h"

#include <fstream>

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
    c.osVersion = [] { return std::string("0.0.0"); };
    return c;
}

}  // namespace telvo
