#pragma once
// The sending half of a client session: every answer and statistics reply of one client goes
// out through it, in the order it was handed over. A statistics reply is handed over as the
// collectors' nodes; writing them as XML, compressing and the write to the socket happen on a
// serial queue of the client's own, off the main queue, and the 105 header carries the exact
// length of the payload that follows it. A small reply (the one-second steady state: a few
// new samples) costs less to make than the hop to another thread; it is made at once when
// nothing handed over before is still waiting, which keeps the order. Byte counts are kept
// here, readable from any queue.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collectors/framework/StatNode.h"
#include "daemon/ReplyCache.h"
#include "platform/dispatch/Queue.h"
#include "platform/values/Value.h"

namespace telvo {

class GCDAsyncSocket;

class ReplyChannel : public std::enable_shared_from_this<ReplyChannel> {
public:
    using Sink = std::function<void(const std::string&)>;

    // Writes go to `socket` (when it still exists) and to `sink` (when set). With
    // `serialQueue` false everything is done at once on the caller's queue.
    ReplyChannel(std::weak_ptr<GCDAsyncSocket> socket, Sink sink, bool serialQueue);

    // Sends the bytes after everything handed over before.
    void send(std::string bytes);
    // Sends the reply header and the payload of a stat reply (type 104) made of `nodes`,
    // gzip-compressed when `compress`, after everything handed over before.
    void sendReply(std::vector<StatNodePtr> nodes, bool compress);
    // Sends a reply made already (shared with other sessions: the bytes are not changed), after
    // everything handed over before.
    void sendPrepared(ReplyCache::Prepared reply);
    // From any queue, while the session's queue hands nothing over (the session is waiting
    // for its socket's next read): writes the reply at once when nothing handed over before
    // still waits, and answers whether it did.
    bool sendPreparedIfIdle(const ReplyCache::Prepared& reply);
    // Runs the block once everything handed over before has been written: at once when
    // nothing waits, otherwise on the channel's queue after it.
    void afterReplies(dispatch::Block block);
    // Returns once everything handed over before has been written (tests and benchmarks).
    void drain();

    double bytesSent() const { return bytesSent_.load(std::memory_order_relaxed); }

    static constexpr double kWriteTimeout = 120;
    // Replies of at most this many elements may be made at once on the caller's queue.
    static constexpr size_t kSmallReplyElements = 64;

private:
    void write(const std::string& bytes);
    void write(std::shared_ptr<const Bytes> bytes);
    // The header and payload leave in one write.
    void writeReply(const ReplyCache::Prepared& reply);
    // Runs the block on the queue, or at once when `now` is allowed and nothing waits there.
    void perform(dispatch::Block block, bool now = false);

    std::weak_ptr<GCDAsyncSocket> socket_;
    Sink sink_;
    dispatch::QueuePtr queue_;  // null: work is done at once
    std::atomic<int> pending_{0};  // blocks handed to queue_ and not yet finished
    std::atomic<double> bytesSent_{0};
};

}  // namespace telvo
