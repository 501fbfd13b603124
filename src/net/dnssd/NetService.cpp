#include "net/dnssd/NetService.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

namespace telvo::dnssd {

namespace {

constexpr const char* kErrorDomain = "NSNetServicesErrorDomain";

std::string withoutTrailingDot(std::string s) {
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

}  // namespace

NetService::NetService(std::string domain, std::string type, std::string name, uint16_t port)
    : domain_(std::move(domain)), type_(std::move(type)), name_(std::move(name)), port_(port) {}

NetService::~NetService() { shutdown(); }

std::string NetService::dataFromTXTRecordDictionary(const std::map<std::string, std::string>& txt) {
    std::string out;
    for (const auto& [key, value] : txt) {
        std::string entry = key + "=" + value;
        if (entry.size() > 255) entry.resize(255);
        out.push_back(char(uint8_t(entry.size())));
        out += entry;
    }
    return out;
}

std::map<std::string, std::string> NetService::dictionaryFromTXTRecordData(const std::string& data) {
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t n = uint8_t(data[pos++]);
        if (n > data.size() - pos) break;
        std::string entry = data.substr(pos, n);
        pos += n;
        auto eq = entry.find('=');
        if (eq == 0 || entry.empty()) continue;
        if (eq == std::string::npos)
            out.emplace(entry, "");
        else
            out.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return out;
}

bool NetService::setTXTRecordData(const std::string& data) {
    std::lock_guard lock(mutex_);
    txt_ = data;
    return true;
}

bool NetService::isPublished() const {
    std::lock_guard lock(mutex_);
    return published_;
}

void NetService::failLocked(int avahiError) {
    auto error = makeError(kErrorDomain, avahiError, avahi_strerror(avahiError));
    if (delegate_) delegate_->netServiceDidNotPublish(*this, error);
}

void NetService::addServiceLocked(AvahiClient* client) {
    if (!group_) group_ = avahi_entry_group_new(client, reinterpret_cast<AvahiEntryGroupCallback>(groupCallback), this);
    if (!group_) {
        failLocked(avahi_client_errno(client));
        return;
    }
    if (!avahi_entry_group_is_empty(group_)) return;
    AvahiStringList* list = nullptr;
    std::string txt;
    {
        std::lock_guard lock(mutex_);
        txt = txt_;
    }
    if (!txt.empty() && avahi_string_list_parse(txt.data(), txt.size(), &list) != 0) list = nullptr;
    std::string type = withoutTrailingDot(type_);
    std::string domain = withoutTrailingDot(domain_);
    const char* domainArg = (domain.empty() || domain == "local") ? nullptr : domain.c_str();
    int rc = avahi_entry_group_add_service_strlst(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                                  name_.c_str(), type.c_str(), domainArg, nullptr, port_, list);
    avahi_string_list_free(list);
    if (rc < 0 || (rc = avahi_entry_group_commit(group_)) < 0) failLocked(rc);
}

void NetService::clientCallback(AvahiClient* client, int state, void* userdata) {
    auto* self = static_cast<NetService*>(userdata);
    switch (AvahiClientState(state)) {
        case AVAHI_CLIENT_S_RUNNING:
            self->addServiceLocked(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            if (self->group_) avahi_entry_group_reset(self->group_);
            break;
        case AVAHI_CLIENT_FAILURE: {
            {
                std::lock_guard lock(self->mutex_);
                self->published_ = false;
            }
            self->failLocked(avahi_client_errno(client));
            break;
        }
        default:
            break;
    }
}

void NetService::groupCallback(AvahiEntryGroup* group, int state, void* userdata) {
    auto* self = static_cast<NetService*>(userdata);
    switch (AvahiEntryGroupState(state)) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED: {
            {
                std::lock_guard lock(self->mutex_);
                self->published_ = true;
            }
            if (self->delegate_) self->delegate_->netServiceDidPublish(*self);
            break;
        }
        case AVAHI_ENTRY_GROUP_COLLISION:
            self->failLocked(AVAHI_ERR_COLLISION);
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            self->failLocked(avahi_client_errno(avahi_entry_group_get_client(group)));
            break;
        default:
            break;
    }
}

bool NetService::publish() {
    if (poll_) return true;
    if (delegate_) delegate_->netServiceWillPublish(*this);
    poll_ = avahi_threaded_poll_new();
    if (!poll_) {
        failLocked(AVAHI_ERR_NO_MEMORY);
        return false;
    }
    int error = 0;
    // Callbacks may run inside avahi_client_new, on this thread, before the poll thread starts.
    client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0),
                               reinterpret_cast<AvahiClientCallback>(clientCallback), this, &error);
    if (!client_) {
        avahi_threaded_poll_free(poll_);
        poll_ = nullptr;
        failLocked(error);
        return false;
    }
    if (avahi_threaded_poll_start(poll_) < 0) {
        shutdown();
        failLocked(AVAHI_ERR_FAILURE);
        return false;
    }
    return true;
}

void NetService::shutdown() {
    if (!poll_) return;
    avahi_threaded_poll_stop(poll_);
    if (client_) avahi_client_free(client_);  // frees the entry group with it
    client_ = nullptr;
    group_ = nullptr;
    avahi_threaded_poll_free(poll_);
    poll_ = nullptr;
    std::lock_guard lock(mutex_);
    published_ = false;
}

void NetService::stop() {
    bool had = poll_ != nullptr;
    shutdown();
    if (had && delegate_) delegate_->netServiceDidStop(*this);
}

}  // namespace telvo::dnssd
