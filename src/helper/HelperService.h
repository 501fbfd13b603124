#pragma once
// The privileged helper's service: the listener on its Mach service, the caller check of each
// connecting process, and the handling of the admitted connection's messages. The helper holds
// one connection, the latest admitted; a newer one replaces it (the old one is invalidated and
// its pending messages run no more). Each message is decrypted and decoded strictly on the
// connection's queue ("config" opens the connection's log there), then checked against the
// policy and run on the main queue in arrival order. "reply" answers "" when no step of the
// connection failed, else the count of failed steps; a message without "reply" is never
// answered, nor is one that was refused before it could run.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include "helper/CallerCheck.h"
#include "helper/HelperCommand.h"
#include "helper/HelperPolicy.h"
#include "platform/Error.h"
#include "platform/xpc/Interface.h"
#include "platform/xpc/Listener.h"

namespace telvo {
class DDFileLogger;
}

namespace telvo::helper {

class HelperController;
class HelperStaging;

class HelperService : public xpc::ListenerDelegate, public std::enable_shared_from_this<HelperService> {
public:
    static constexpr const char* kLabel = "com.kestro.telvoserver.installerhelper";
    struct Settings {
        std::string label = kLabel;
        CallerRules rules = makerCallerRules();
        // What the application a caller installs from must meet.
        std::string applicationRequirement = makerCallerRules().requirements.back();
    };

    HelperService(HelperController& controller, Settings settings);
    ~HelperService() override;

    // Makes the listener, becomes its delegate and resumes it.
    ErrorPtr start();
    bool shouldAcceptNewConnection(xpc::Listener& listener, const xpc::ConnectionPtr& connection) override;

    // The one operation of "InstallerProtocol".
    static constexpr const char* kOperation = "processCommand:reply:";

private:
    struct Session;
    using SessionPtr = std::shared_ptr<Session>;
    void receive(const SessionPtr& session, const ValueArray& arguments, const xpc::Reply& reply);
    void run(const SessionPtr& session, HelperCommand command, const xpc::Reply& reply);
    void drop(const SessionPtr& session);
    void end(const SessionPtr& session);
    bool openLogger(const SessionPtr& session, const std::string& folder, std::string& why);
    void removeLogger(const SessionPtr& session);
    void refuse(const SessionPtr& session, const std::string& why);

    HelperController& controller_;
    Settings settings_;
    std::mutex mutex_;
    SessionPtr current_;
};

}  // namespace telvo::helper
