#include "agent/UserNotificationCenter.h"

#include <dbus/dbus.h>

#include <algorithm>

#include "platform/dispatch/Queue.h"
#include "platform/systemlog/SystemLog.h"

namespace telvo::agent {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";

DBusHandlerResult filterMessage(DBusConnection* connection, DBusMessage* message, void* self) {
    return DBusHandlerResult(UserNotificationCenter::filter(connection, message, self));
}

}  // namespace

UserNotificationCenter::UserNotificationCenter() : alive_(std::make_shared<bool>(true)) {}

UserNotificationCenter::~UserNotificationCenter() {
    *alive_ = false;
    for (auto& w : watches_)
        if (w.source) w.source->cancel();
    watches_.clear();
    if (connection_) {
        dbus_connection_remove_filter(connection_, filterMessage, this);
        dbus_connection_set_watch_functions(connection_, nullptr, nullptr, nullptr, nullptr, nullptr);
        dbus_connection_close(connection_);
        dbus_connection_unref(connection_);
    }
}

bool UserNotificationCenter::connect() {
    if (connection_) return true;
    if (failed_) return false;
    DBusError error;
    dbus_error_init(&error);
    connection_ = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!connection_) {
        SystemLog("No session bus for notifications: %s", error.message ? error.message : "unknown error");
        dbus_error_free(&error);
        failed_ = true;
        return false;
    }
    dbus_connection_set_exit_on_disconnect(connection_, false);
    dbus_bus_add_match(connection_, "type='signal',interface='org.freedesktop.Notifications',member='ActionInvoked'",
                       &error);
    if (dbus_error_is_set(&error)) {
        SystemLog("Cannot watch notification clicks: %s", error.message);
        dbus_error_free(&error);
    }
    dbus_connection_add_filter(connection_, filterMessage, this, nullptr);
    dbus_connection_set_watch_functions(connection_, addWatch, removeWatch, toggleWatch, this, nullptr);
    return true;
}

unsigned UserNotificationCenter::addWatch(DBusWatch* watch, void* context) {
    auto* self = static_cast<UserNotificationCenter*>(context);
    if (!(dbus_watch_get_flags(watch) & DBUS_WATCH_READABLE)) return true;  // writes are flushed at once
    Watch w{watch, dispatch::Source::createRead(dbus_watch_get_unix_fd(watch), dispatch::Queue::main())};
    std::weak_ptr<bool> alive = self->alive_;
    w.source->setEventHandler([self, watch, alive] {
        auto living = alive.lock();
        if (!living || !*living) return;
        dbus_watch_handle(watch, DBUS_WATCH_READABLE);
        self->dispatchAll();
    });
    if (dbus_watch_get_enabled(watch)) w.source->resume();
    self->watches_.push_back(std::move(w));
    return true;
}

void UserNotificationCenter::removeWatch(DBusWatch* watch, void* context) {
    auto* self = static_cast<UserNotificationCenter*>(context);
    auto it = std::find_if(self->watches_.begin(), self->watches_.end(), [&](const Watch& w) { return w.watch == watch; });
    if (it == self->watches_.end()) return;
    it->source->cancel();
    self->watches_.erase(it);
}

void UserNotificationCenter::toggleWatch(DBusWatch* watch, void* context) {
    removeWatch(watch, context);
    if (dbus_watch_get_enabled(watch)) addWatch(watch, context);
}

void UserNotificationCenter::dispatchAll() {
    if (!connection_) return;
    while (dbus_connection_dispatch(connection_) == DBUS_DISPATCH_DATA_REMAINS) {
    }
}

bool UserNotificationCenter::deliver(const std::string& title, const std::string& text) {
    if (!connect()) {
        SystemLog("Notification not shown (no notification server): %@", title);
        return false;
    }
    DBusMessage* message = dbus_message_new_method_call(kService, kPath, kInterface, "Notify");
    if (!message) return false;
    const char* appName = "Telvo Server";
    dbus_uint32_t replaces = 0;
    const char* icon = "";
    const char* summary = title.c_str();
    const char* body = text.c_str();
    dbus_int32_t timeout = -1;
    DBusMessageIter args, actions, hints;
    dbus_message_iter_init_append(message, &args);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &appName);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &replaces);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &icon);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &summary);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &body);
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "s", &actions);
    const char* action = "default";
    const char* label = "Open";
    dbus_message_iter_append_basic(&actions, DBUS_TYPE_STRING, &action);
    dbus_message_iter_append_basic(&actions, DBUS_TYPE_STRING, &label);
    dbus_message_iter_close_container(&args, &actions);
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &hints);
    dbus_message_iter_close_container(&args, &hints);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &timeout);

    DBusPendingCall* pending = nullptr;
    bool sent = dbus_connection_send_with_reply(connection_, message, &pending, 25000) && pending;
    dbus_message_unref(message);
    if (!sent) {
        SystemLog("Notification not shown (the bus is gone): %@", title);
        return false;
    }
    // The title travels with the pending reply, so that a click can say which one it was.
    auto* context = new std::pair<UserNotificationCenter*, std::string>(this, title);
    dbus_pending_call_set_notify(
        pending, replyArrived, context, [](void* p) { delete static_cast<std::pair<UserNotificationCenter*, std::string>*>(p); });
    dbus_pending_call_unref(pending);
    dbus_connection_flush(connection_);
    return true;
}

void UserNotificationCenter::replyArrived(DBusPendingCall* pending, void* context) {
    auto* c = static_cast<std::pair<UserNotificationCenter*, std::string>*>(context);
    DBusMessage* reply = dbus_pending_call_steal_reply(pending);
    if (!reply) return;
    dbus_uint32_t id = 0;
    DBusError error;
    dbus_error_init(&error);
    if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR) {
        SystemLog("Notification not shown (%s): %@", dbus_message_get_error_name(reply), c->second);
    } else if (dbus_message_get_args(reply, &error, DBUS_TYPE_UINT32, &id, DBUS_TYPE_INVALID)) {
        c->first->ids_.insert(id);
        c->first->titles_[id] = c->second;
    }
    dbus_error_free(&error);
    dbus_message_unref(reply);
}

int UserNotificationCenter::filter(DBusConnection*, DBusMessage* message, void* context) {
    auto* self = static_cast<UserNotificationCenter*>(context);
    if (!dbus_message_is_signal(message, kInterface, "ActionInvoked")) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    dbus_uint32_t id = 0;
    const char* action = nullptr;
    DBusError error;
    dbus_error_init(&error);
    if (dbus_message_get_args(message, &error, DBUS_TYPE_UINT32, &id, DBUS_TYPE_STRING, &action, DBUS_TYPE_INVALID) &&
        action && std::string(action) == "default" && self->ids_.count(id) && self->handler_) {
        const std::string title = self->titles_[id];
        auto handler = self->handler_;
        dispatch::Queue::main()->async([handler, title] { handler(title); });
    }
    dbus_error_free(&error);
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

}  // namespace telvo::agent
