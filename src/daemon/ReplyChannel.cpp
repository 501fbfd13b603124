#include "daemon/ReplyChannel.h"

#include "daemon/ReplyCache.h"
#include "net/socket/GCDAsyncSocket.h"

namespace telvo {

namespace {
constexpr long kTag = 1;
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
    const bool small = ReplyCache::elementCount(nodes, kSmallReplyElements) <= kSmallReplyElements;
    perform([self = shared_from_this(), nodes = std::move(nodes), compress] {
        self->writeReply(ReplyCache::make(nodes, compress));
    }, small);
}

void ReplyChannel::sendPrepared(ReplyCache::Prepared reply) {
    perform([self = shared_from_this(), reply = std::move(reply)] { self->writeReply(reply); }, true);
}

void ReplyChannel::afterReplies(dispatch::Block block) { perform(std::move(block), true); }

bool ReplyChannel::sendPreparedIfIdle(const ReplyCache::Prepared& reply) {
    if (pending_.load(std::memory_order_acquire) != 0) return false;
    writeReply(reply);
    return true;
}

void ReplyChannel::writeReply(const ReplyCache::Prepared& reply) {
    const Bytes& frame = *reply.frame;
    bytesSent_.fetch_add(double(frame.size()), std::memory_order_relaxed);
    if (sink_) {
        // Header and payload as two writes, as a session's sink has always seen them.
        const auto split = frame.begin() + long(reply.headerLength);
        sink_(std::string(frame.begin(), split));
        sink_(std::string(split, frame.end()));
    }
    if (auto socket = socket_.lock()) socket->writeData(reply.frame, kWriteTimeout, kTag);
}

void ReplyChannel::drain() {
    if (queue_ && !queue_->isCurrent()) queue_->sync([] {});
}

}  // namespace telvo
