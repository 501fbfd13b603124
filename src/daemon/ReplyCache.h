#pragma once
// The statistics replies of the current moment, shared by every session that asks the same.
// Clients polling every second ask the same thing in the same second; the bytes of a reply
// (and their gzip form) are made once per request text and protocol version and handed to
// each session that asks it while nothing a reply shows can have changed: while the main
// queue has run nothing but blocks that say they change no collector state (sessions reading
// their sockets). Any other main-queue block (a collector's tick, a history load, the update
// pass) ends the window and the cache is emptied at its next use. Bounded in entries and in
// bytes; a reply too large for it is made by its session as before. Replies are made and
// kept on the main queue, only inside main-queue blocks: work done outside one (tests calling
// a session directly) never shares a reply. A socket's own queue may take a reply made
// already (findReady) while the last main-queue block to start is one that changed nothing,
// so that a request asked again is answered without a hop to the main thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "collectors/framework/StatNode.h"
#include "platform/values/Value.h"

namespace telvo {

class ReplyCache {
public:
    // A reply ready to send: the 105 header and its payload, one after the other in one
    // buffer, so that it leaves in one write.
    struct Prepared {
        std::shared_ptr<const Bytes> frame;
        size_t headerLength = 0;
        explicit operator bool() const { return frame != nullptr; }
    };

    // Entries and bytes (documents and gzip forms) kept at the most.
    static constexpr size_t kMaxEntries = 32;
    static constexpr size_t kMaxBytes = 1 << 20;
    // Replies of more elements than this are made by their sessions, off the main queue.
    static constexpr size_t kMaxElements = 512;

    static ReplyCache& shared();
    static void resetForTesting();

    // Called by a main-queue block that changes nothing a reply shows; the window stays open.
    void blockChangesNothing();
    // The reply made in this window for the request text and protocol, in the form asked;
    // empty when there is none.
    Prepared find(std::string_view request, int64_t protocol, bool compress);
    // From any thread: the reply kept for the request text and protocol in the form asked,
    // when one was made already and nothing a reply shows can have changed since; empty
    // otherwise (the main queue then answers as usual).
    Prepared findReady(std::string_view request, int64_t protocol, bool compress);
    // Makes the reply of `nodes` and keeps it for the request. A reply of too many elements,
    // or asked outside a block that changes nothing, gives a null header: the caller makes it
    // itself then (empty answer). One too large in bytes is made but not kept.
    Prepared store(std::string_view request, int64_t protocol, bool compress, const std::vector<StatNodePtr>& nodes);

    size_t entryCountForTesting();
    size_t byteCountForTesting() const { return bytes_; }

    // The header and payload of a stat reply of `nodes` (the bytes every session sends).
    static Prepared make(const std::vector<StatNodePtr>& nodes, bool compress);
    // The payload's elements, counting each copied sample; stops counting past `limit`.
    static size_t elementCount(const std::vector<StatNodePtr>& nodes, size_t limit);

private:
    struct Entry {
        std::string request;
        int64_t protocol = 0;
        std::string document;
        Prepared plain, compressed;
    };
    // Drops the entries of an earlier window; false outside a main-queue block.
    bool open();
    Prepared formOf(Entry& entry, bool compress);
    uint64_t window() const;

    // Entries are changed on the main queue only, under the lock; other threads only read them.
    std::mutex mutex_;
    std::vector<Entry> entries_;
    size_t bytes_ = 0;
    // The main-queue block in which the entries were last known to hold (0: none); other
    // threads may use them while no other block has started since.
    std::atomic<uint64_t> servable_{0};
    uint64_t entriesWindow_ = 0;
    uint64_t quietBlocks_ = 0;      // blocks that said they changed nothing
    uint64_t lastQuietBlock_ = 0;   // the last of them, counted once
};

}  // namespace telvo
