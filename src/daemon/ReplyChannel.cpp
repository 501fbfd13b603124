#include "daemon/ReplyChannel.h"

#include "collectors/framework/SampleRun.h"
#include "collectors/framework/StatNodeWriter.h"
#include "daemon/ClientProtocol.h"
#include "net/socket/GCDAsyncSocket.h"
#include "platform/crypto/Gzip.h"

namespace telvo {

namespace {
constexpr long kTag = 1;

// The elements of the nodes, counting each copied sample; stops counting past `limit`.
size_t elementCount(const std::vector<StatNodePtr>& nodes, size_t limit, size_t count = 0) {
    for (const auto& node : nodes) {
        if (!node || count > limit) continue;
        count += 1 + (node->samples ? node->samples->size() : 0);
        count = elementCount(node->children, limit, count);
    }
    return count;
}
}  // namespace

ReplyChannel::ReplyChannel(std::weak_ptr<GCDAsyncSocket> socket, Sink sink, bool serialQueue)
    : socket_(std::move(socket)), sink_(std::move(sink)) {
    if (serialQueue) queue_ = dispatch::Queue::createSerial("com.kestro.telvo.client.reply");
}

void ReplyChannel::perform(dispatch::Block block, bool now) {
    // Only the session's queue hands work over, so nothing is queued between this test and
    // the block running here; a finished block has made all its writes.
    if (!queue_ || (now && pending_.load(std::memory_order_acquire) == 0)) {
        block();
        return;
    }
    pending_.fetch_add(1, std::memory_order_relaxed);
    queue_->async([self = shared_from_this(), block = std::move(block)] {
        block();
        self->pending_.fetch_sub(1, std::memory_order_release);
    });
}

void ReplyChannel::write(std::shared_ptr<const Bytes> bytes) {
    bytesSent_.fetch_add(double(bytes->size()), std::memory_order_relaxed);
    if (sink_) sink_(std::string(bytes->begin(), bytes->end()));
    if (bytes->empty()) return;
    if (auto socket = socket_.lock()) socket->writeData(std::move(bytes), kWriteTimeout, kTag);
}

void ReplyChannel::write(const std::string& bytes) {
    write(std::make_shared<const Bytes>(bytes.begin(), bytes.end()));
}

void ReplyChannel::send(std::string bytes) {
    perform([self = shared_from_this(), bytes = std::move(bytes)] { self->write(bytes); }, true);
}

void ReplyChannel::sendReply(std::vector<StatNodePtr> nodes, bool compress) {
    const bool small = elementCount(nodes, kSmallReplyElements) <= kSmallReplyElements;
    perform([self = shared_from_this(), nodes = std::move(nodes), compress] {
        std::string document = statnodewriter::document(protocol::kStatReplyMessage, nodes);
        std::shared_ptr<const Bytes> payload;
        if (compress) {
            auto compressed =
                crypto::gzipDeflate(reinterpret_cast<const uint8_t*>(document.data()), document.size());
            payload = std::make_shared<const Bytes>(compressed ? std::move(*compressed) : Bytes());
        } else {
            payload = std::make_shared<const Bytes>(document.begin(), document.end());
        }
        self->write(protocol::replyHeader(payload->size(), compress));
        self->write(std::move(payload));
    }, small);
}

void ReplyChannel::drain() {
    if (queue_ && !queue_->isCurrent()) queue_->sync([] {});
}

}  // namespace telvo
