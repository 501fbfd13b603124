// The pre-buffer and the read packet's length and terminator arithmetic.
#include <gtest/gtest.h>

#include <cstring>

#include "net/socket/GCDAsyncReadPacket.h"
#include "net/socket/GCDAsyncSocketPreBuffer.h"

namespace telvo {
namespace {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

void fill(GCDAsyncSocketPreBuffer& pre, const std::string& s) {
    pre.ensureCapacityForWrite(s.size());
    std::memcpy(pre.writeBuffer(), s.data(), s.size());
    pre.didWrite(s.size());
}

// A terminator read that has already taken `done` bytes.
GCDAsyncReadPacket termRead(const std::string& term, const std::string& done, size_t maxLength = 0) {
    GCDAsyncReadPacket p(nullptr, 0, maxLength, -1, 0, bytes(term), 1);
    p.ensureCapacityForAdditionalDataOfLength(done.size());
    if (!done.empty()) std::memcpy(p.writePosition(), done.data(), done.size());
    p.bytesDone = done.size();
    return p;
}

TEST(PreBuffer, GrowsByTheShortfallAndRewindsWhenDrained) {
    GCDAsyncSocketPreBuffer pre(4096);
    fill(pre, std::string(4000, 'a'));
    pre.ensureCapacityForWrite(200);
    EXPECT_EQ(pre.capacity(), 4200u);
    EXPECT_EQ(pre.availableBytes(), 4000u);
    EXPECT_EQ(pre.availableSpace(), 200u);

    pre.didRead(1000);  // space in front stays unused
    EXPECT_EQ(pre.availableBytes(), 3000u);
    EXPECT_EQ(pre.availableSpace(), 200u);
    pre.didRead(3000);  // drained: full capacity again
    EXPECT_EQ(pre.availableBytes(), 0u);
    EXPECT_EQ(pre.availableSpace(), 4200u);
    EXPECT_EQ(pre.readBuffer(), pre.writeBuffer());
}

TEST(ReadPacket, TerminatorAcrossReadBytesAndPreBuffer) {
    struct Case {
        const char* name;
        std::string term, done, pre;
        size_t maxLength;
        size_t expected;
        bool found;
    };
    const Case cases[] = {
        {"straddles the boundary", "\r\n", "abc\r", "\nrest", 0, 1, true},
        {"wholly inside at offset 10", "</tvx>", "", "0123456789</tvx>tail", 0, 16, true},
        {"three and three bytes", "</tvx>", "<tvx></t", "vx><next", 0, 3, true},
        {"absent: take everything", "</tvx>", "ab", "cdefghij", 0, 8, false},
        {"absent: only what the maximum allows", "</tvx>", "ab", "cdefghij", 6, 4, false},
        {"too short to hold it", "</tvx>", "", "</t", 0, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GCDAsyncReadPacket p = termRead(c.term, c.done, c.maxLength);
        GCDAsyncSocketPreBuffer pre(4096);
        fill(pre, c.pre);
        bool found = false;
        EXPECT_EQ(p.readLengthForTermWithPreBuffer(pre, &found), c.expected);
        EXPECT_EQ(found, c.found);
    }
}

TEST(ReadPacket, SearchAfterAppendingFindsTerminatorStartingInOlderBytes) {
    const std::string term = "ABCDEF";
    GCDAsyncReadPacket p = termRead(term, "xxA");  // 3 bytes done, terminator begins in them
    std::string appended = "BCDEF" + std::string(95, 'z');
    ASSERT_EQ(appended.size(), 100u);
    p.ensureCapacityForAdditionalDataOfLength(appended.size());
    std::memcpy(p.writePosition(), appended.data(), appended.size());
    EXPECT_EQ(p.searchForTermAfterPreBuffering(appended.size()), 95);

    GCDAsyncReadPacket q = termRead(term, "xyz");
    std::string none(100, 'q');
    q.ensureCapacityForAdditionalDataOfLength(none.size());
    std::memcpy(q.writePosition(), none.data(), none.size());
    EXPECT_EQ(q.searchForTermAfterPreBuffering(none.size()), -1);

    GCDAsyncReadPacket r = termRead(term, "");
    std::string exact = "12ABCDEF";
    r.ensureCapacityForAdditionalDataOfLength(exact.size());
    std::memcpy(r.writePosition(), exact.data(), exact.size());
    EXPECT_EQ(r.searchForTermAfterPreBuffering(exact.size()), 0);
}

TEST(ReadPacket, ReadLengths) {
    GCDAsyncReadPacket fixed(nullptr, 0, 0, -1, 10, Bytes(), 0);
    fixed.bytesDone = 4;
    bool pre = true;
    EXPECT_EQ(fixed.optimalReadLengthWithDefault(32768, &pre), 6u);
    EXPECT_FALSE(pre);
    EXPECT_EQ(fixed.readLengthForNonTermWithHint(100), 6u);
    EXPECT_EQ(fixed.buffer->size(), 10u);

    GCDAsyncReadPacket bounded(nullptr, 0, 50, -1, 0, Bytes(), 0);
    EXPECT_EQ(bounded.optimalReadLengthWithDefault(32768, &pre), 50u);
    EXPECT_TRUE(pre);  // no room in its empty buffer
    EXPECT_EQ(bounded.readLengthForNonTermWithHint(80), 50u);

    GCDAsyncReadPacket term = termRead("\n", "", 20);
    EXPECT_EQ(term.readLengthForTermWithHint(100, &pre), 20u);
    EXPECT_TRUE(pre);
    term.ensureCapacityForAdditionalDataOfLength(64);
    EXPECT_EQ(term.readLengthForTermWithHint(10, &pre), 10u);
    EXPECT_FALSE(pre);
}

TEST(ReadPacket, CallerBufferIsTheCallersObject) {
    auto caller = std::make_shared<Bytes>(bytes("head"));
    GCDAsyncReadPacket p(caller, 4, 0, -1, 0, bytes("\n"), 0);
    EXPECT_FALSE(p.bufferOwner);
    EXPECT_EQ(p.originalBufferLength, 4u);
    p.ensureCapacityForAdditionalDataOfLength(10);
    EXPECT_EQ(caller->size(), 14u);
    EXPECT_EQ(p.buffer.get(), caller.get());
}

TEST(PreBuffer, ShrinksBackToItsFirstCapacityOnlyWhenEmpty) {
    GCDAsyncSocketPreBuffer pre(4096);
    fill(pre, std::string(200000, 'a'));  // a large message grew it
    pre.shrinkIfEmpty();
    EXPECT_EQ(pre.capacity(), 200000u);  // bytes still wait: kept
    pre.didRead(200000);
    pre.shrinkIfEmpty();
    EXPECT_EQ(pre.capacity(), 4096u);
    EXPECT_EQ(pre.availableSpace(), 4096u);
    fill(pre, "abc");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pre.readBuffer()), 3), "abc");
}

}  // namespace
}  // namespace telvo
