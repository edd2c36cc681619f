#include "terminal/byte_queue.h"

#include "comm/exceptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

namespace hydrix::terminal {
namespace {

std::vector<uint8_t> Bytes(int n, uint8_t first = 0) {
    std::vector<uint8_t> v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), first);
    return v;
}

std::vector<uint8_t> Contents(const ByteQueue& q) {
    const uint8_t* p = q.Peek(q.Count());
    return std::vector<uint8_t>(p, p + q.Count());
}

TEST(ByteQueue, GrowsByDoublingAndKeepsOrder) {
    ByteQueue q;
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(q.Capacity(), 64);
    auto first = Bytes(100);
    q.Put(first.data(), 100);
    EXPECT_EQ(q.Capacity(), 128);
    auto more = Bytes(1000, 100);
    q.Put(more.data(), 1000);
    EXPECT_EQ(q.Capacity(), 2048);
    EXPECT_EQ(q.Count(), 1100);
    auto all = Bytes(1100);
    EXPECT_EQ(Contents(q), all);
}

TEST(ByteQueue, SetCapacityNeverDropsQueuedBytes) {
    ByteQueue q;
    auto data = Bytes(70);
    q.Put(data.data(), 70);
    q.SetCapacity(10);
    EXPECT_EQ(q.Capacity(), 128);
    EXPECT_EQ(Contents(q), data);
    q.SetCapacity(129);
    EXPECT_EQ(q.Capacity(), 192);
    EXPECT_EQ(Contents(q), data);
}

TEST(ByteQueue, ShortReadNamesBothCountsAndChangesNothing) {
    ByteQueue q;
    q.Put("abc", 3);
    for (bool peek : {true, false}) {
        try {
            if (peek) {
                q.Peek(5);
            } else {
                q.Remove(5);
            }
            FAIL() << "no short-read error";
        } catch (const comm::Exception& e) {
            EXPECT_STREQ(e.what(), "Not enough data in queue (3 bytes) to satisfy read request (5 bytes)");
        }
        EXPECT_EQ(q.Count(), 3);
        EXPECT_EQ(std::memcmp(q.Peek(3), "abc", 3), 0);
    }
}

TEST(ByteQueue, ReserveThenCommitAddsOnlyCommittedBytes) {
    ByteQueue q;
    q.Put("xy", 2);
    uint8_t* room = q.Reserve(50);
    std::memset(room, 'z', 50);
    q.Commit(20);
    EXPECT_EQ(q.Count(), 22);
    const std::string expected = "xy" + std::string(20, 'z');
    EXPECT_EQ(Contents(q), std::vector<uint8_t>(expected.begin(), expected.end()));
}

TEST(ByteQueue, ReserveGrowsUntilTheRoomFits) {
    ByteQueue q;
    auto data = Bytes(60);
    q.Put(data.data(), 60);
    uint8_t* room = q.Reserve(300);
    EXPECT_GE(q.Capacity(), 360);
    EXPECT_EQ(q.Capacity() % 64, 0);
    std::memset(room, 0xAA, 300);
    q.Commit(300);
    EXPECT_EQ(q.Count(), 360);
    EXPECT_EQ(std::memcmp(q.Peek(60), data.data(), 60), 0);
}

TEST(ByteQueue, CommitBeyondTheFreeRoomIsRefused) {
    ByteQueue q;
    q.Reserve(10);
    EXPECT_THROW(q.Commit(q.Capacity() + 1), std::out_of_range);
    EXPECT_EQ(q.Count(), 0);
}

TEST(ByteQueue, RemoveMovesTheRestToTheHead) {
    ByteQueue q;
    const uint8_t data[] = {1, 2, 3, 4};
    q.Put(data, 4);
    const uint8_t* head = q.Peek(0);
    q.Remove(2);
    EXPECT_EQ(q.Peek(2), head);
    EXPECT_EQ(Contents(q), (std::vector<uint8_t>{3, 4}));
    q.Remove(2);
    EXPECT_EQ(q.Count(), 0);
}

TEST(ByteQueue, ClearEmptiesWithoutShrinking) {
    ByteQueue q;
    auto data = Bytes(200);
    q.Put(data.data(), 200);
    q.Clear();
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(q.Capacity(), 256);
    q.Put("k", 1);
    EXPECT_EQ(*q.Peek(1), 'k');
}

TEST(ByteQueue, NegativeCountsAreRejected) {
    ByteQueue q;
    EXPECT_THROW(q.Put("a", -1), std::invalid_argument);
    EXPECT_THROW(q.Remove(-1), std::invalid_argument);
    EXPECT_THROW(q.Reserve(-1), std::invalid_argument);
    EXPECT_EQ(q.Count(), 0);
}

}  // namespace
}  // namespace hydrix::terminal
