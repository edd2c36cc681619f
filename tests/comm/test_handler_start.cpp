// Where a method handler's offers begin: a handler joined "from now" never sees bytes
// that were already in the input ring, whether it joined between offers or while one
// was being delivered, and the others are offered everything as before.
#include <gtest/gtest.h>

#include <string>

#include "fake_device.h"

namespace hydrix::comm {
namespace {

using test::FakeDispatcher;

// Reads every byte it is offered and keeps them.
struct Reader {
    std::string got;
    uint64_t firstAt = UINT64_MAX;
    void Attach(FakeDispatcher& d, HandlerStart start) {
        d->AttachMethodHandler(
            this,
            [this, &d](uint32_t msg, uint32_t count, int32_t) {
                if (msg != kTriggerAvailMsg) {
                    return;
                }
                if (firstAt == UINT64_MAX) {
                    firstAt = d->ReadPosition();
                }
                std::string buf(count, '\0');
                ASSERT_EQ(d->ReadBytes(buf.data(), static_cast<int>(count)), static_cast<int>(count));
                got += buf;
            },
            start);
    }
};

TEST(HandlerStart, BytesWaitingWhenTheHandlerJoinsAreNotOfferedToIt) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->SetAvailThreshold(1);
    // Holds the prompt unread, as the offer before a data trigger does.
    std::string held;
    d->AttachMethodHandler(&held, [&](uint32_t msg, uint32_t count, int32_t) {
        if (msg != kTriggerAvailMsg || count < 4) {
            return;
        }
        held.resize(4);
        ASSERT_EQ(d->ReadBytes(held.data(), 4), 4);
    });
    d.ReceiveAndCycle("abcd>");
    EXPECT_EQ(d->BytesAvailable(), 1) << "the prompt waits in the ring";

    Reader late;
    late.Attach(d, HandlerStart::kFromNow);
    Reader all;
    all.Attach(d, HandlerStart::kAllWaiting);
    d.ReceiveAndCycle("CR1\r\n");
    EXPECT_EQ(late.got, "CR1\r\n");
    EXPECT_EQ(late.firstAt, 5u) << "its first byte is the sixth received";
    EXPECT_EQ(all.got, ">CR1\r\n");
    EXPECT_EQ(d->BytesAvailable(), 0);
}

TEST(HandlerStart, AHandlerJoiningDuringAnOfferIsOfferedNothingOfIt) {
    FakeDispatcher d;
    ASSERT_EQ(d.Open(), 0);
    d->SetAvailThreshold(1);
    Reader late;
    std::string first;
    d->AttachMethodHandler(&first, [&](uint32_t msg, uint32_t count, int32_t) {
        if (msg != kTriggerAvailMsg) {
            return;
        }
        std::string buf(count, '\0');
        ASSERT_EQ(d->ReadBytes(buf.data(), static_cast<int>(count)), static_cast<int>(count));
        first += buf;
        if (first == "old") {
            late.Attach(d, HandlerStart::kFromNow);
        }
    });
    d.ReceiveAndCycle("old");
    EXPECT_EQ(late.got, "");
    d.ReceiveAndCycle("new");
    EXPECT_EQ(late.got, "new");
    EXPECT_EQ(first, "oldnew");
    EXPECT_EQ(d->BytesAvailable(), 0);
}

}  // namespace
}  // namespace hydrix::comm
