#pragma once
// Watches for block devices coming, going and changing, and for the mount table changing:
// the kernel's uevent netlink socket (messages of the block subsystem sent by the kernel
// itself; loop attach and detach arrive as "change") and POLLPRI on /proc/self/mountinfo. One
// watcher thread serves every subscriber. On every event the process-wide registry is rebuilt
// (with its publish and terminate notifications) before any subscriber is told.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/diskarb/Uevent.h"

namespace telvo::diskarb {

class DeviceEventMonitor {
public:
    // `event` is the block event, or null when the mount table changed. Called on the
    // watcher thread: subscribers move their work to their own queue.
    using Callback = std::function<void(const Uevent* event)>;
    using Token = uint64_t;

    static DeviceEventMonitor& shared();

    // The watcher starts with the first subscriber and stops after the last has gone.
    Token subscribe(Callback callback);
    void unsubscribe(Token token);

    // Handles a received message as the watcher does (the kernel-sender check is the
    // caller's): parses it, keeps block events only, refreshes the registry, tells everyone.
    void handleMessage(const char* data, size_t length);
    // Rebuilds the registry and tells everyone the mount table changed (also after lost events).
    void handleMountTableChange();
    // Tests: no socket and no mount-table watch, only what they hand in.
    static void setSourcesEnabledForTesting(bool enabled);

private:
    DeviceEventMonitor() = default;
    struct Impl;
    void startLocked();
    void deliver(const Uevent* event);

    std::mutex mutex_;
    std::shared_ptr<Impl> impl_;
    std::vector<std::pair<Token, std::shared_ptr<Callback>>> subscribers_;
    Token nextToken_ = 1;
};

}  // namespace telvo::diskarb
