#include "daemon/ReplyChannel.h"

#include "collectors/framework/StatNodeWriter.h"
#include "daemon/ClientProtocol.h"
#include "net/socket/GCDAsyncSocket.h"
#include "platform/crypto/Gzip.h"

namespace telvo {

namespace {
constexpr long kTag = 1;
}  // namespace

ReplyChannel::ReplyChannel(std::weak_ptr<GCDAsyncSocket> socket, Sink sink, bool serialQueue)
    : socket_(std::move(socket)), sink_(std::move(sink)) {
    if (serialQueue) queue_ = dispatch::Queue::createSerial("com.kestro.telvo.client.reply");
}

void ReplyChannel::perform(dispatch::Block block) {
    if (queue_)
        queue_->async(std::move(block));
    else
        block();
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
    perform([self = shared_from_this(), bytes = std::move(bytes)] { self->write(bytes); });
}

void ReplyChannel::sendReply(std::vector<StatNodePtr> nodes, bool compress) {
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
    });
}

void ReplyChannel::drain() {
    if (queue_ && !queue_->isCurrent()) queue_->sync([] {});
}

}  // namespace telvo
