// Network state from rtnetlink dumps, with a watcher thread for change reports.
#include "platform/netstate/RtnetlinkSource.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <map>
#include "platform/netstate/DynamicStore.h"
#include "platform/host/ProcRoot.h"
#include "platform/netstate/NetworkKeys.h"
#include "platform/netstate/ResolvConf.h"
#include "platform/netstate/Rtnetlink.h"

namespace telvo::netstate {

RtnetlinkSource::~RtnetlinkSource() { stopWatching(); }

ValueDictionary RtnetlinkSource::build(const std::vector<Ipv4Address>& addresses,
                                       const std::vector<Ipv4Route>& routes) {
    ValueDictionary out;
    const Ipv4Route* best = nullptr;
    for (const auto& r : routes) {
        if (r.destinationLength != 0 || r.type != 1 /* RTN_UNICAST */) continue;
        if (!best || r.priority < best->priority) best = &r;
    }
    if (best) {
        Value global;
        if (!best->gateway.empty()) global.set("Router", best->gateway);
        if (!best->interfaceName.empty()) global.set("PrimaryInterface", best->interfaceName);
        out[DynamicStore::kGlobalIPv4Key] = global;
    }
    std::map<std::string, Value> perInterface;
    for (const auto& a : addresses) {
        Value& v = perInterface[a.interfaceName];
        v.mutableDictionary()["Addresses"].append(a.address);
        v.mutableDictionary()["SubnetMasks"].append(maskFromPrefix(a.prefixLength));
    }
    for (auto& [name, v] : perInterface) out[DynamicStore::interfaceIPv4Key(name)] = v;
    return out;
}

ValueDictionary RtnetlinkSource::snapshot() {
    {
        std::lock_guard<std::mutex> lock(cacheMutex_);
        if (cached_) return *cached_;
    }
    return dump();
}

void RtnetlinkSource::setCache(const ValueDictionary* keys) {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    if (keys)
        cached_ = *keys;
    else
        cached_.reset();
}

ValueDictionary RtnetlinkSource::dump() {
    // A dump can fail midway (a busy kernel, an interrupted receive): ask again rather than
    // report a network with parts missing.
    NetworkDumps dumps;
    for (int attempt = 0; attempt < 3; ++attempt) {
        dumps = NetworkDumps();
        if (dumpLinks(dumps.links) && dumpAddresses(dumps.addresses) && dumpRoutes(AF_INET, dumps.routes) &&
            dumpRoutes(AF_INET6, dumps.routes))
            break;
    }
    dumps.dnsServers = readNameservers();
    dumps.isWireless = interfaceIsWireless;
    return buildNetworkKeys(dumps);
}

void RtnetlinkSource::setChangeListener(ChangeListener listener) {
    stopWatching();
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
    if (!listener_) return;
    int nl = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (nl < 0) return;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR | RTMGRP_IPV6_ROUTE;
    if (bind(nl, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        close(nl);
        return;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        close(nl);
        return;
    }
    thread_ = std::thread([this, nl, wake = wakeFd_] { watch(nl, wake); });
}

void RtnetlinkSource::stopWatching() {
    std::thread t;
    int wake = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        t = std::move(thread_);
        wake = wakeFd_;
        wakeFd_ = -1;
    }
    if (wake >= 0) {
        uint64_t one = 1;
        (void)!write(wake, &one, sizeof one);
    }
    if (t.joinable()) t.join();
    if (wake >= 0) close(wake);
    setCache(nullptr);
}

void RtnetlinkSource::watch(int nl, int wake) {
    // While the watcher runs, readers get its latest dump (taken after every burst, before the
    // listener hears of it) instead of dumping again on their own queue.
    ValueDictionary previous = dump();
    setCache(&previous);
    // resolv.conf is often replaced by a rename, so its folder is watched, not the file.
    int dns = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (dns >= 0) {
        for (const char* folder : {"/etc", "/run/systemd/resolve"})
            inotify_add_watch(dns, host::ProcRoot::path(folder).c_str(),
                              IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM);
    }
    alignas(inotify_event) char buf[16384];
    for (;;) {
        pollfd fds[3] = {{nl, POLLIN, 0}, {wake, POLLIN, 0}, {dns, POLLIN, 0}};
        if (poll(fds, dns >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents) break;
        if (dns >= 0 && (fds[2].revents & POLLIN)) {
            bool resolv = false;
            ssize_t n;
            while ((n = read(dns, buf, sizeof buf)) > 0) {
                for (ssize_t off = 0; off + ssize_t(sizeof(inotify_event)) <= n;) {
                    inotify_event ev;
                    std::memcpy(&ev, buf + off, sizeof ev);
                    if (off + ssize_t(sizeof ev + ev.len) > n) break;
                    std::string name = ev.len ? std::string(buf + off + sizeof ev, strnlen(buf + off + sizeof ev, ev.len)) : "";
                    if (name == "resolv.conf") resolv = true;
                    off += ssize_t(sizeof ev + ev.len);
                }
            }
            if (!resolv && !(fds[0].revents & POLLIN)) continue;
        }
        // Drain the burst (a lost burst, ENOBUFS, is covered by the fresh dump below), then
        // give the kernel a moment to finish related changes.
        for (int round = 0; round < 2; ++round) {
            while (recv(nl, buf, sizeof buf, 0) > 0 || errno == ENOBUFS) {
            }
            pollfd again{nl, POLLIN, 0};
            if (poll(&again, 1, 50) <= 0) break;
        }
        ValueDictionary now = dump();
        setCache(&now);
        std::vector<std::string> changed;
        for (const auto& [k, v] : now) {
            auto it = previous.find(k);
            if (it == previous.end() || it->second != v) changed.push_back(k);
        }
        for (const auto& [k, v] : previous)
            if (!now.count(k)) changed.push_back(k);
        previous = std::move(now);
        if (changed.empty()) continue;
        ChangeListener listener;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            listener = listener_;
        }
        if (listener) listener(changed);
    }
    if (dns >= 0) close(dns);
    close(nl);
}

}  // namespace telvo::netstate
