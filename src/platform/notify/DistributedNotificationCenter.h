#pragma once
// Notifications between processes: a name and a property-list user info, delivered to every
// process of the machine that listens. Each listener binds a datagram socket in the run folder
// "/var/run/telvo/notifications" (under the file-system root); posting sends one datagram to
// every socket there and removes the sockets of listeners that are gone.
#include <string>
#include "platform/values/Value.h"

namespace telvo::notify {

class DistributedNotificationCenter {
public:
    static DistributedNotificationCenter& defaultCenter();

    // The folder the listeners' sockets live in (a path as the components name it).
    static const char* runFolder();

    // Delivers at once to every listener; answers how many listeners took it. A failure to
    // reach one listener does not keep the others from it. userInfo may be null.
    int postNotification(const std::string& name, const Value& userInfo = Value());

    // The datagram form: the name, a zero byte, then the user info as an XML property list
    // (nothing when there is none). Decoding answers false for bytes of another form.
    static std::string encode(const std::string& name, const Value& userInfo);
    static bool decode(const std::string& datagram, std::string& name, Value& userInfo);
};

}  // namespace telvo::notify
