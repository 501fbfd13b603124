// Network state from a property-list file.
#include "platform/netstate/FileSource.h"

#include <fstream>
#include <sstream>
#include "platform/values/PropertyList.h"

namespace telvo::netstate {

ValueDictionary FileSource::snapshot() {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    Value v = plist::parse(text.str());
    return v.dictionary();
}

}  // namespace telvo::netstate
