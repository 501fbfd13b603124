// The process-wide store and its sessions.
#include "platform/netstate/DynamicStore.h"

#include <algorithm>
#include <cstdlib>
#include "platform/netstate/FileSource.h"
#include "platform/netstate/RtnetlinkSource.h"

namespace telvo::netstate {

namespace {
std::mutex gStoreMutex;
DynamicStore* gStore = nullptr;
}  // namespace

std::string DynamicStore::interfaceIPv4Key(const std::string& interfaceName) {
    return "State:/Network/Interface/" + interfaceName + "/IPv4";
}

DynamicStore& DynamicStore::shared() {
    std::lock_guard<std::mutex> lock(gStoreMutex);
    if (!gStore) gStore = new DynamicStore();  // lives to the end of the process
    return *gStore;
}

void DynamicStore::setSourceForTesting(NetworkStateSourcePtr source) {
    DynamicStore& store = shared();
    NetworkStateSourcePtr old;
    {
        std::lock_guard<std::mutex> lock(store.mutex_);
        old = std::move(store.source_);
        store.source_ = std::move(source);
        store.sessions_.clear();
    }
    if (old) old->setChangeListener(nullptr);
}

void DynamicStore::resetForTesting() { setSourceForTesting(nullptr); }

NetworkStateSourcePtr DynamicStore::source() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!source_) {
        const char* file = std::getenv(FileSource::kEnvironmentVariable);
        if (file && *file)
            source_ = std::make_shared<FileSource>(file);
        else
            source_ = std::make_shared<RtnetlinkSource>();
    }
    NetworkStateSourcePtr source = source_;
    lock.unlock();
    return source;
}

Value DynamicStore::copyValue(const std::string& key) {
    ValueDictionary all = source()->snapshot();
    auto it = all.find(key);
    return it == all.end() ? Value() : it->second;
}

ValueDictionary DynamicStore::copyMultiple(const std::vector<std::string>& keys,
                                           const std::vector<std::string>& patterns) {
    std::vector<std::regex> compiled;
    for (const auto& p : patterns) {
        try {
            compiled.emplace_back(p, std::regex::ECMAScript);
        } catch (const std::regex_error&) {
        }
    }
    ValueDictionary all = source()->snapshot();
    ValueDictionary out;
    for (auto& [k, v] : all) {
        bool wanted = std::find(keys.begin(), keys.end(), k) != keys.end();
        for (size_t i = 0; !wanted && i < compiled.size(); ++i) wanted = std::regex_match(k, compiled[i]);
        if (wanted) out.emplace(k, v);
    }
    return out;
}

void DynamicStore::addSession(const std::weak_ptr<DynamicStoreSession>& session) {
    NetworkStateSourcePtr src = source();
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                       [](const auto& w) { return w.expired(); }),
                        sessions_.end());
        first = sessions_.empty();
        sessions_.push_back(session);
    }
    if (first) {
        std::weak_ptr<NetworkStateSource> weakSource = src;
        src->setChangeListener([this, weakSource](const std::vector<std::string>& keys) {
            // A listener of a replaced source says nothing.
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (weakSource.lock() != source_) return;
            }
            changed(keys);
        });
    }
}

void DynamicStore::changed(const std::vector<std::string>& keys) {
    std::vector<std::shared_ptr<DynamicStoreSession>> live;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& w : sessions_)
            if (auto s = w.lock()) live.push_back(std::move(s));
    }
    for (const auto& s : live) s->storeChanged(keys);
}

DynamicStoreSessionPtr DynamicStoreSession::create(const std::string& name, dispatch::QueuePtr queue,
                                                   Callback callback) {
    DynamicStoreSessionPtr session(new DynamicStoreSession(name, std::move(queue), std::move(callback)));
    DynamicStore::shared().addSession(session);
    return session;
}

DynamicStoreSession::DynamicStoreSession(std::string name, dispatch::QueuePtr queue, Callback callback)
    : name_(std::move(name)), queue_(std::move(queue)), callback_(std::move(callback)) {}

Value DynamicStoreSession::copyValue(const std::string& key) const { return DynamicStore::shared().copyValue(key); }

ValueDictionary DynamicStoreSession::copyMultiple(const std::vector<std::string>& keys,
                                                  const std::vector<std::string>& patterns) const {
    return DynamicStore::shared().copyMultiple(keys, patterns);
}

bool DynamicStoreSession::setNotificationKeys(const std::vector<std::string>& keys,
                                              const std::vector<std::string>& patterns) {
    std::vector<std::regex> compiled;
    bool ok = true;
    for (const auto& p : patterns) {
        try {
            compiled.emplace_back(p, std::regex::ECMAScript);
        } catch (const std::regex_error&) {
            ok = false;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok) {
        keys_.clear();
        patterns_.clear();
        return false;
    }
    keys_ = keys;
    patterns_ = std::move(compiled);
    return true;
}

void DynamicStoreSession::invalidate() {
    std::lock_guard<std::mutex> lock(mutex_);
    valid_ = false;
}

bool DynamicStoreSession::watches(const std::string& key) const {
    if (std::find(keys_.begin(), keys_.end(), key) != keys_.end()) return true;
    for (const auto& re : patterns_)
        if (std::regex_match(key, re)) return true;
    return false;
}

void DynamicStoreSession::storeChanged(const std::vector<std::string>& keys) {
    std::vector<std::string> mine;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!valid_ || !queue_) return;
        for (const auto& k : keys)
            if (watches(k)) mine.push_back(k);
    }
    if (mine.empty()) return;
    std::weak_ptr<DynamicStoreSession> weak = weak_from_this();
    queue_->async([weak, mine] {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            if (!self->valid_) return;
        }
        if (self->callback_) self->callback_(mine);
    });
}

}  // namespace telvo::netstate
