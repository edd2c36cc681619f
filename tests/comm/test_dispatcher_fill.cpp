// Filling the input ring up to the brim and scanning it: a completely full ring
// (head back on the tail) must still be scanned and offered, and input must go on
// once a handler has read it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_device.h"

namespace hydrix::comm {
namespace {

using test::FakeDispatcher;

std::string Pattern(size_t count, char first = 'a') {
    std::string s;
    for (size_t i = 0; i < count; ++i) {
        s.push_back(static_cast<char>(first + i % 26));
    }
    return s;
}

// Reads every offered byte, as the terminal does; records offers and data matches.
struct Reader {
    std::string got;
    std::vector<uint32_t> offers;
    std::vector<uint32_t> matches;
    void Attach(FakeDispatcher& d) {
        d->AttachMethodHandler(this, [this, &d](uint32_t msg, uint32_t handle, int32_t) {
            if (msg == kTriggerDataMsg) {
                matches.push_back(handle);
                return;
            }
            if (msg != kTriggerAvailMsg) {
                return;
            }
            offers.push_back(handle);
            std::string buf(handle, '\0');
            ASSERT_EQ(d->ReadBytes(buf.data(), static_cast<int>(handle)), static_cast<int>(handle));
            got += buf;
        });
    }
};

// Moves the ring's head and tail to start by receiving and reading that many bytes.
void MoveRingTo(FakeDispatcher& d, Reader& reader, uint32_t start) {
    if (start == 0) {
        return;
    }
    d.ReceiveAndCycle(std::string(start, '-'));
    ASSERT_EQ(reader.got.size(), start);
    reader.got.clear();
    reader.offers.clear();
}

class FullRing : public ::testing::TestWithParam<uint32_t> {};

TEST_P(FullRing, IsOfferedWholeAndInputGoesOn) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->SetAvailThreshold(1);
    Reader reader;
    reader.Attach(d);
    MoveRingTo(d, reader, GetParam());

    const std::string block = Pattern(kInputRingSize);
    d.ReceiveAndCycle(block);
    EXPECT_EQ(reader.offers, (std::vector<uint32_t>{kInputRingSize})) << "a full ring is offered";
    EXPECT_EQ(d->BytesAvailable(), 0);
    d.ReceiveAndCycle("more");
    EXPECT_EQ(reader.got, block + "more");
}

TEST_P(FullRing, PromptInsideIsFound) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    const int prompt = d->NewDataTrigger(">", false, 1);
    d->SetAvailThreshold(1);
    Reader reader;
    reader.Attach(d);
    MoveRingTo(d, reader, GetParam());

    // One prompt in the middle, one as the very last byte of the full ring.
    const std::string block = Pattern(4000) + ">" + Pattern(kInputRingSize - 4002) + ">";
    d.ReceiveAndCycle(block);
    EXPECT_EQ(reader.matches, (std::vector<uint32_t>{static_cast<uint32_t>(prompt), static_cast<uint32_t>(prompt)}));
    EXPECT_EQ(reader.got, block);
    d.ReceiveAndCycle("next>");
    EXPECT_EQ(reader.matches.size(), 3u);
    EXPECT_EQ(reader.got, block + "next>");
}

// 0: a fresh ring; kInputRingSize - 1: head and tail one byte before the end.
INSTANTIATE_TEST_SUITE_P(StartPositions, FullRing, ::testing::Values(0u, 100u, kInputRingSize - 1));

TEST(InputFill, DriverHandingOverMoreThanItCountedLosesNothing) {
    // The count is taken a moment before the read; a tty read may return more.
    for (uint32_t start : {0u, kInputRingSize - 42}) {
        SCOPED_TRACE(start);
        FakeDispatcher d;
        ASSERT_EQ(d.Open(), 0);
        d->SetAvailThreshold(1);
        Reader reader;
        reader.Attach(d);
        MoveRingTo(d, reader, start);

        const std::string sent = Pattern(20000);
        d.Receive(sent);
        d.dev.reportedInQueueLimit = 100;
        d->FillInputRing();
        EXPECT_EQ(d->BytesAvailable(), 100) << "no more asked for than the driver reported";
        for (int cycle = 0; cycle < 1000 && !d.dev.rx.empty(); ++cycle) {
            d->RunDeviceCycle();
        }
        d->RunDeviceCycle();
        EXPECT_EQ(reader.got, sent);
    }
}

TEST(InputFill, OneCycleKeepsReadingWhileHandlersMakeRoom) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->SetAvailThreshold(1);
    Reader reader;
    reader.Attach(d);
    const std::string sent = Pattern(3 * kInputRingSize);
    d.ReceiveAndCycle(sent);
    EXPECT_TRUE(d.dev.rx.empty());
    EXPECT_EQ(reader.got, sent);
}

}  // namespace
}  // namespace hydrix::comm
