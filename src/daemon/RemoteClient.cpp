#include "daemon/RemoteClient.h"

#include <algorithm>

#include "daemon/ClientProtocol.h"
#include "foundation/KXRVersions.h"
#include "daemon/Controller.h"
#include "daemon/ReplyCache.h"
#include "daemon/ReplyChannel.h"
#include "foundation/ServerLog.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/dispatch/Queue.h"
#include "platform/time/Clock.h"
#include "platform/values/Format.h"

namespace telvo {

namespace {
constexpr long kTag = 1;

Bytes toBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
}  // namespace

RemoteClient::RemoteClient(GCDAsyncSocketPtr socket) : socket_(std::move(socket)) {
    replies_ = std::make_shared<ReplyChannel>(socket_, nullptr, socket_ != nullptr);
    terminator_ = toBytes(std::string(protocol::kTerminator));
    connectionTime_ = platform::Clock::now();
    statTree_ = Value(ValueDictionary{});
}

RemoteClientPtr RemoteClient::initWithSocket(const GCDAsyncSocketPtr& socket) {
    RemoteClientPtr client(new RemoteClient(socket));
    socket->setDelegate(std::weak_ptr<GCDAsyncSocketDelegate>(client), dispatch::Queue::main());
    socket->setMaximumWriteBacklog(kMaximumUnsentBytes);
    client->address_ = socket->connectedHost();
    client->log("Host connected");
    client->startSSL();
    return client;
}

RemoteClientPtr RemoteClient::initDetachedForTesting(std::function<void(const std::string&)> sink,
                                                     const std::string& address, bool offMainQueue) {
    RemoteClientPtr client(new RemoteClient(nullptr));
    client->replies_ = std::make_shared<ReplyChannel>(std::weak_ptr<GCDAsyncSocket>(), std::move(sink), offMainQueue);
    client->address_ = address;
    return client;
}

RemoteClient::~RemoteClient() {
    if (deadline_) deadline_->cancel();
    if (ticket_ && throttle_) throttle_->cancel(address_, *ticket_);
    if (socket_) {
        socket_->setDelegate(std::weak_ptr<GCDAsyncSocketDelegate>());
        socket_->disconnect();
    }
}

std::string RemoteClient::description() const {
    if (hostname_) return format("%@ - %@: ", address_, *hostname_);
    return format("%@: ", address_);
}

void RemoteClient::log(const std::string& message, bool always) const {
    if (!always && !authenticated_ && !ServerManager::sharedServerManager().peerLog().allow(address_)) return;
    DLog("%@%@", description(), message);
}

void RemoteClient::close() {
    if (socket_) socket_->disconnect();
}

void RemoteClient::closeEvicted() {
    if (authenticated_) return;  // authorised since it was chosen: it stays
    log("Closing: the oldest session not authorized, to make room for a newer connection");
    close();
}

std::string RemoteClient::name() const {
    if (hostname_) return *hostname_;
    return socket_ ? socket_->connectedHost() : address_;
}

double RemoteClient::bytesSent() const { return replies_->bytesSent(); }

void RemoteClient::waitForRepliesForTesting() { replies_->drain(); }

double RemoteClient::connectedTime() const { return platform::Clock::now() - connectionTime_; }

void RemoteClient::startSSL() {
    log("Securing connection");
    TVSKeychain& keychain = TVSKeychain::sharedKeychain();
    auto identities = keychain.SSLIdentityAndCertificates();
    if (identities.empty()) {
        keychain.createNewIdentity();
        identities = keychain.SSLIdentityAndCertificates();
    }
    ValueArray certificates;
    for (const auto& identity : identities) certificates.push_back(identity.asValue());
    ValueDictionary settings;
    settings[kCFStreamSSLCertificates] = Value(std::move(certificates));
    settings[kCFStreamSSLIsServer] = Value(true);
    // A client that never finishes its handshake is not authorised either.
    settings[GCDAsyncSocketSSLHandshakeTimeout] = Value(kAuthorisationTimeout);
    settings[GCDAsyncSocketSSLProtocolVersionMin] =
        Value(int(KXRVersions::sharedVersions().mountainLion() ? kTLSProtocol1 : kSSLProtocolUnknown));
    socket_->startTLS(Value(std::move(settings)));
}

void RemoteClient::queueRead(double timeout) {
    if (socket_) socket_->readDataToData(terminator_, timeout, kMaximumMessageLength, kTag);
}

void RemoteClient::socketDidSecure(const GCDAsyncSocketPtr&) {
    ReplyCache::shared().blockChangesNothing();
    log("Secured connection");
    armAuthorisationDeadline(kAuthorisationTimeout);
    queueRead(kFirstReadTimeout);
}

void RemoteClient::armAuthorisationDeadline(double seconds) {
    if (!deadline_) {
        deadline_ = dispatch::Source::createTimer(dispatch::Queue::main());
        std::weak_ptr<RemoteClient> weak = weak_from_this();
        deadline_->setEventHandler([weak] {
            if (auto self = weak.lock()) self->authorisationDeadline();
        });
        deadline_->scheduleAfter(seconds);
        deadline_->resume();
        return;
    }
    deadline_->scheduleAfter(seconds);
}

void RemoteClient::authorisationDeadline() {
    if (authenticated_) {
        deadline_->cancel();
        return;
    }
    if (ticket_) {
        // Its guess is still waiting for a check: the answer decides.
        armAuthorisationDeadline(kGuessPollInterval);
        return;
    }
    log("Not authorized in time");
    close();
}

void RemoteClient::socketDidReadData(const GCDAsyncSocketPtr&, const Bytes& data, long) {
    // Reading a message changes no collector state: replies made meanwhile stay shared.
    ReplyCache::shared().blockChangesNothing();
    bytesReceived_.fetch_add(double(data.size()), std::memory_order_relaxed);
    std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    if (!processXML(bytes)) return;
    // The next message is read once the answers handed over so far are with the socket,
    // which reads no further while too much of them waits there.
    std::weak_ptr<RemoteClient> weak = weak_from_this();
    replies_->afterReplies([weak] {
        if (auto self = weak.lock()) self->queueRead(kReadTimeout);
    });
}

bool RemoteClient::socketTakesReadOnSocketQueue(const GCDAsyncSocketPtr&, const Bytes& data, long) {
    // Only what is safe from any thread is touched here. The main queue hands this session
    // nothing while its socket reads (it queues the next read after answering the last
    // message), so a reply written here keeps its place after the answers before it.
    if (!authenticated_.load() || !socket_) return false;
    std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    ReplyCache::Prepared shared = ReplyCache::shared().findReady(
        bytes, protocolVersion_.load(std::memory_order_relaxed), allowsCompression_.load(std::memory_order_relaxed));
    if (!shared || !replies_->sendPreparedIfIdle(shared)) return false;
    bytesReceived_.fetch_add(double(data.size()), std::memory_order_relaxed);
    queueRead(kReadTimeout);
    return true;
}

void RemoteClient::socketDidDisconnect(const GCDAsyncSocketPtr&, const ErrorPtr& error) {
    if (error) {
        if (authenticated_ || ServerManager::sharedServerManager().peerLog().allow(address_))
            DLog("%@%@ - %@", description(), "Disconnecting with error", error->description());
    } else
        log("Disconnecting");
    log("Host disconnected");
    dropWaitingGuess();
    if (deadline_) deadline_->cancel();
    // Keep this session alive until the removal has returned.
    RemoteClientPtr self = shared_from_this();
    ServerManager::sharedServerManager().removeClient(this);
}

std::optional<std::string> RemoteClient::decodeEntities(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    return protocol::decodeEntities(*text);
}

bool RemoteClient::isAuthorized() const {
    return deviceUUID_ && ServerManager::sharedServerManager().isDeviceAuthorized(*deviceUUID_);
}

bool RemoteClient::processXML(std::string_view bytes) {
    if (authenticated_) {
        // The same request text, asked since nothing changed, has the same reply.
        ReplyCache::Prepared shared = ReplyCache::shared().find(bytes, protocolVersion(), allowsCompression());
        if (shared) {
            statTree_ = Value(ValueDictionary{});
            replies_->sendPrepared(std::move(shared));
            return true;
        }
    }
    protocol::Message message;
    if (!protocol::parseMessage(bytes, message)) return true;
    statTree_ = Value(ValueDictionary{});
    const Value& attributes = message.attributes;
    auto text = [&](const char* key) -> std::optional<std::string> {
        if (!attributes.has(key)) return std::nullopt;
        return attributes[key].stringValue();
    };
    switch (message.type) {
        case protocol::kHelloMessage: {
            allowsCompression_ = attributes["compression"].boolValue();
            protocolVersion_ = attributes["protocol"].intValue();
            clientPlatform_ = attributes["platform"].intValue();
            auto answer = protocol::documentWithType(100);
            answer->root().setAttribute("protocol", format("%i", protocol::kProtocolVersion));
            sendData(protocol::serialize(*answer));
            break;
        }
        case protocol::kClientDetailsMessage: {
            log("Got host details");
            deviceUUID_ = text("uuid");
            clientVersion_ = float(attributes["version"].doubleValue());
            hostname_ = decodeEntities(text("name"));
            sendServerDetails();
            break;
        }
        case protocol::kPasscodeMessage: {
            if (authenticated_) {
                // Already authorised (a remembered device among them): nothing to throttle.
                checkPasscode(text("code"), false);
                break;
            }
            if (ticket_) break;  // one guess at a time; the socket reads nothing meanwhile
            throttle_ = ServerManager::sharedServerManager().sharedPasscodeThrottle();
            ticket_ = throttle_->enqueue(address_);
            if (!ticket_) {
                log("Too many passcodes waiting from this address; closing without a check");
                close();
                return false;
            }
            waitingCode_ = text("code");
            return attemptPasscodeCheck();
        }
        case protocol::kStatRequestMessage: {
            if (!authenticated_) break;
            statTree_ = protocol::statTreeFromRequest(
                message.root, [](const std::string& keys) { Controller::sharedController().processRequest(keys); });
            requestText_ = bytes;
            sendStatResponse();
            requestText_ = {};
            break;
        }
        default:
            break;
    }
    return true;
}

bool RemoteClient::attemptPasscodeCheck() {
    if (!ticket_ || !throttle_) return false;
    double wait = kGuessPollInterval;
    switch (throttle_->admit(address_, *ticket_, &wait)) {
        case PasscodeThrottle::Turn::kCheckNow: {
            ticket_.reset();
            auto code = std::move(waitingCode_);
            waitingCode_.reset();
            checkPasscode(code, true);
            return true;
        }
        case PasscodeThrottle::Turn::kUnknown:
            ticket_.reset();
            waitingCode_.reset();
            return false;
        case PasscodeThrottle::Turn::kWait:
            break;
    }
    if (socket_ && socket_->peerHasClosed()) {
        log("Connection closed while its passcode waited; not checked");
        dropWaitingGuess();
        close();
        return false;
    }
    std::weak_ptr<RemoteClient> weak = weak_from_this();
    dispatch::Queue::main()->after(std::min(wait, kGuessPollInterval), [weak] {
        auto self = weak.lock();
        if (self && self->ticket_ && self->attemptPasscodeCheck()) self->queueRead(kReadTimeout);
    });
    return false;
}

void RemoteClient::dropWaitingGuess() {
    if (ticket_ && throttle_) throttle_->cancel(address_, *ticket_);
    ticket_.reset();
    waitingCode_.reset();
}

void RemoteClient::checkPasscode(const std::optional<std::string>& code, bool throttled) {
    auto stored = TVSPreferences::sharedPreferences().passcode();
    bool right = stored && code && *stored == *code;
    if (throttled && throttle_) throttle_->recordResult(address_, right);
    if (right) {
        log("Host authorized", true);
        if (deviceUUID_) ServerManager::sharedServerManager().addDeviceToAuthorizedList(*deviceUUID_);
        sendData(protocol::serialize(*protocol::documentWithType(103)));
        authenticated_ = true;
    } else {
        // Every check is told: the throttle already keeps them few.
        log("Invalid passcode", true);
        sendData(protocol::serialize(*protocol::documentWithType(102)));
    }
}

void RemoteClient::sendServerDetails() {
    // Trust of local client applications by bundle identifier has no counterpart here.
    bool trusted = isAuthorized();
    ServerManager& server = ServerManager::sharedServerManager();
    const DaemonCollectors& collectors = Controller::sharedController().collectors();
    auto document = protocol::documentWithType(100);
    xml::XmlElement root = document->root();
    auto add = [&](const char* key, const std::string& value) { root.setAttribute(key, value); };
    add("protocol", format("%i", protocol::kProtocolVersion));
    add("model", collectors.modelIdentifier ? collectors.modelIdentifier() : "");
    add("uuid", TVSPreferences::sharedPreferences().objectForKey("uuid").stringValue());
    add("version", format("%.2f", 3.03));
    add("build", format("%i", 270));
    add("platform", "7");
    add("session", format("%.0f", server.session()));
    add("os", collectors.osVersion ? collectors.osVersion() : "0.0.0");
    if (trusted) {
        log("Host is already authorized", true);
        add("auth", "0");
        authenticated_ = true;
    } else {
        log("Sending passcode request");
        add("auth", format("%li", long(TVSPreferences::sharedPreferences().integerForKey("passcodeType") + 1)));
    }
    sendData(protocol::serialize(*document));
}

void RemoteClient::sendStatResponse() {
    // Only what reads the collectors runs here, on the main queue; the nodes are written as
    // XML, compressed and sent by the reply channel.
    std::vector<StatNodePtr> nodes;
    for (const StatCollectorPtr& collector : ServerManager::sharedServerManager().statCollectors()) {
        if (!collector) continue;
        std::string type = collector->statType();
        if (!statTree_.has(type)) continue;
        if (type == "processes" && !collector->enabled()) collector->setEnabled(true);
        Value entry = statTree_[type];
        if (collector->config().has("xmlSessionBased") && collector->session() <= entry["session"].intValue()) continue;
        entry.set("protocol", Value(static_cast<long long>(protocolVersion())));
        for (StatNodePtr& node : collector->xmlReplyNodesFromAttributes(entry))
            if (node) nodes.push_back(std::move(node));
    }
    statTree_ = Value(ValueDictionary{});
    if (!requestText_.empty()) {
        ReplyCache::Prepared reply = ReplyCache::shared().store(requestText_, protocolVersion(), allowsCompression(), nodes);
        if (reply) {
            replies_->sendPrepared(std::move(reply));
            return;
        }
    }
    replies_->sendReply(std::move(nodes), allowsCompression());
}

void RemoteClient::sendData(const std::string& bytes) { replies_->send(bytes); }

}  // namespace telvo
