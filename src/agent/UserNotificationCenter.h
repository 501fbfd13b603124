#pragma once
// User notifications through the desktop's notification server (org.freedesktop.Notifications
// on the session bus, by libdbus): each notification carries the "default" action, and a click
// on one of ours (ActionInvoked with our id) reaches the handler on the main queue. The bus
// connection is served by a read source on the main queue. Without a session bus or a
// notification server the notification is logged and dropped.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/Source.h"

struct DBusConnection;
struct DBusMessage;
struct DBusPendingCall;
struct DBusWatch;

namespace telvo::agent {

class UserNotificationCenter {
public:
    using ActivationHandler = std::function<void(const std::string& title)>;

    UserNotificationCenter();
    ~UserNotificationCenter();
    UserNotificationCenter(const UserNotificationCenter&) = delete;
    UserNotificationCenter& operator=(const UserNotificationCenter&) = delete;

    // Called when the user clicks one of our notifications (main queue).
    void setActivationHandler(ActivationHandler handler) { handler_ = std::move(handler); }
    // Shows a notification; false (logged) when there is no server to show it.
    bool deliver(const std::string& title, const std::string& text);
    // The ids the server gave our notifications so far.
    const std::set<uint32_t>& deliveredIds() const { return ids_; }

    // The bus filter (answers a DBusHandlerResult); for the connection only.
    static int filter(DBusConnection* connection, DBusMessage* message, void* self);

private:
    bool connect();
    static unsigned addWatch(DBusWatch* watch, void* self);
    static void removeWatch(DBusWatch* watch, void* self);
    static void toggleWatch(DBusWatch* watch, void* self);
    static void replyArrived(DBusPendingCall* pending, void* self);
    void dispatchAll();

    DBusConnection* connection_ = nullptr;
    bool failed_ = false;
    ActivationHandler handler_;
    std::set<uint32_t> ids_;
    std::map<uint32_t, std::string> titles_;
    struct Watch {
        DBusWatch* watch;
        dispatch::SourcePtr source;
    };
    std::vector<Watch> watches_;
    std::shared_ptr<bool> alive_;
};

}  // namespace telvo::agent
