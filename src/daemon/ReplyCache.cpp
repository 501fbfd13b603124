#include "daemon/ReplyCache.h"

#include "collectors/framework/SampleRun.h"
#include "collectors/framework/StatNodeWriter.h"
#include "daemon/ClientProtocol.h"
#include "platform/crypto/Gzip.h"
#include "platform/dispatch/MainLoop.h"

namespace telvo {

namespace {
ReplyCache* gShared = nullptr;

size_t countElements(const std::vector<StatNodePtr>& nodes, size_t limit, size_t count) {
    for (const auto& node : nodes) {
        if (!node || count > limit) continue;
        count += 1 + (node->samples ? node->samples->size() : 0);
        count = countElements(node->children, limit, count);
    }
    return count;
}

template <class Payload>
ReplyCache::Prepared framed(const Payload& payload, bool compressed) {
    const std::string header = protocol::replyHeader(payload.size(), compressed);
    Bytes frame;
    frame.reserve(header.size() + payload.size());
    frame.insert(frame.end(), header.begin(), header.end());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return {std::make_shared<const Bytes>(std::move(frame)), header.size()};
}

ReplyCache::Prepared fromDocument(const std::string& document, bool compress) {
    if (!compress) return framed(document, false);
    auto deflated = crypto::gzipDeflate(reinterpret_cast<const uint8_t*>(document.data()), document.size());
    return framed(deflated ? *deflated : Bytes(), true);
}
}  // namespace

ReplyCache& ReplyCache::shared() {
    if (!gShared) gShared = new ReplyCache();
    return *gShared;
}

void ReplyCache::resetForTesting() {
    delete gShared;
    gShared = nullptr;
}

size_t ReplyCache::elementCount(const std::vector<StatNodePtr>& nodes, size_t limit) {
    return countElements(nodes, limit, 0);
}

ReplyCache::Prepared ReplyCache::make(const std::vector<StatNodePtr>& nodes, bool compress) {
    return fromDocument(statnodewriter::document(protocol::kStatReplyMessage, nodes), compress);
}

void ReplyCache::blockChangesNothing() {
    const uint64_t block = dispatch::MainLoop::currentBlockNumber();
    if (block == 0 || block == lastQuietBlock_) return;
    lastQuietBlock_ = block;
    ++quietBlocks_;
    // Every block since the entries were made changed nothing: they hold in this block too.
    if (window() == entriesWindow_) servable_.store(block, std::memory_order_seq_cst);
}

uint64_t ReplyCache::window() const { return dispatch::MainLoop::currentBlockNumber() - quietBlocks_; }

bool ReplyCache::open() {
    const uint64_t block = dispatch::MainLoop::currentBlockNumber();
    // Only a block that changes nothing may share: one that does may change it after the reply.
    if (block == 0 || block != lastQuietBlock_) return false;
    if (window() != entriesWindow_) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
        bytes_ = 0;
        entriesWindow_ = window();
    }
    servable_.store(block, std::memory_order_seq_cst);
    return true;
}

ReplyCache::Prepared ReplyCache::formOf(Entry& entry, bool compress) {
    Prepared& form = compress ? entry.compressed : entry.plain;
    if (form) return form;
    // Made outside the lock: only the main queue changes entries, other threads only read.
    Prepared made = fromDocument(entry.document, compress);
    const size_t size = made.frame->size();
    // A form that does not fit is made for this session only.
    if (bytes_ + size > kMaxBytes) return made;
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_ += size;
    form = std::move(made);
    if (entry.plain && entry.compressed) {
        // Both forms are kept: the document is no longer needed.
        bytes_ -= entry.document.size();
        std::string().swap(entry.document);
    }
    return form;
}

ReplyCache::Prepared ReplyCache::find(std::string_view request, int64_t protocol, bool compress) {
    if (!open()) return {};
    for (Entry& entry : entries_) {
        if (entry.protocol != protocol || entry.request != request) continue;
        Prepared& form = compress ? entry.compressed : entry.plain;
        if (form || !entry.document.empty()) return formOf(entry, compress);
        return {};
    }
    return {};
}

ReplyCache::Prepared ReplyCache::store(std::string_view request, int64_t protocol, bool compress,
                                       const std::vector<StatNodePtr>& nodes) {
    if (!open() || entries_.size() >= kMaxEntries) return {};
    if (elementCount(nodes, kMaxElements) > kMaxElements) return {};
    Entry entry;
    entry.document = statnodewriter::document(protocol::kStatReplyMessage, nodes);
    if (bytes_ + request.size() + entry.document.size() > kMaxBytes) return fromDocument(entry.document, compress);
    entry.request.assign(request);
    entry.protocol = protocol;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_ += entry.request.size() + entry.document.size();
        entries_.push_back(std::move(entry));
    }
    return formOf(entries_.back(), compress);
}

ReplyCache::Prepared ReplyCache::findReady(std::string_view request, int64_t protocol, bool compress) {
    // The entries hold while the last main-queue block to start is the one that last found
    // them holding. A block that starts after this look (a collector's tick) may change what
    // a reply shows; the reply taken here is the one of the moment of the look.
    const uint64_t servable = servable_.load(std::memory_order_seq_cst);
    if (servable == 0 || servable != dispatch::MainLoop::blocksStarted()) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& entry : entries_) {
        if (entry.protocol != protocol || entry.request != request) continue;
        return compress ? entry.compressed : entry.plain;
    }
    return {};
}

size_t ReplyCache::entryCountForTesting() { return entries_.size(); }

}  // namespace telvo
