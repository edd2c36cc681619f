// The receive pipe without a port: written text through the queue, the slices a flood is
// handed on in, and what happens with and without a window. The port side is in
// test_terminal_control_pty.cpp.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/message_loop.h"
#include "terminal/emu_command.h"
#include "terminal/receive_pipe.h"

namespace hydrix::terminal::test {
namespace {

class Pipe : public ::testing::Test {
protected:
    void SetUp() override {
        loop_.AttachToCurrentThread();
        pipe_.SetClock(clock_);
    }
    void TearDown() override {
        if (window_ != 0) {
            loop_.DestroyWindow(window_);
        }
        loop_.ProcessMessages();
    }

    // The window the pipe posts to, made when the pipe first asks, as the control does.
    platform::WindowHandle Window() {
        if (window_ == 0 && windowAllowed_) {
            window_ = loop_.CreateWindow([this](uint32_t msg, platform::WParam w, platform::LParam l) {
                if (msg == AM_TERMDATA) {
                    pipe_.Take(w, l, [this](const uint8_t* data, int n, CharSource source) { Chunk(data, n, source); });
                } else if (msg == AM_TERMATTACH) {
                    ++attachMessages_;
                }
                return platform::LResult{0};
            });
            pipe_.WindowCreated(window_);
        }
        return window_;
    }
    void Chunk(const uint8_t* data, int n, CharSource source) {
        received_.append(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
        chunks_.push_back(n);
        sources_.push_back(source);
        clock_.Advance(stepMs_);
        if (static_cast<int>(chunks_.size()) == slowStep_) {
            clock_.Advance(kReceiveSliceMs);
        }
        if (onChunk_) {
            std::exchange(onChunk_, nullptr)();
        }
    }
    void TakeNow() {
        pipe_.Take(static_cast<platform::WParam>(CharSource::csWriteChar), 0,
                   [this](const uint8_t* data, int n, CharSource source) { Chunk(data, n, source); });
    }
    void Write(const std::string& text) {
        pipe_.Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
    }

    platform::MessageLoop& loop_ = platform::MessageLoop::Instance();
    platform::ManualClock clock_;
    // How long handing on a step takes, and what the next step's handler does besides.
    uint32_t stepMs_ = 0;
    int slowStep_ = 0;  // this step (counted from 1) takes a whole slice
    std::function<void()> onChunk_;
    platform::WindowHandle window_ = 0;
    bool windowAllowed_ = true;
    int attachMessages_ = 0;
    std::string received_;
    std::vector<int> chunks_;
    std::vector<CharSource> sources_;
    ReceivePipe pipe_{this, [this] { return Window(); }, [] {}};
};

TEST_F(Pipe, WrittenTextIsHandedOnAsWrittenWhenTheLoopTakesIt) {
    Write("ab");
    Write("c");
    EXPECT_EQ(pipe_.Count(), 3);
    EXPECT_TRUE(received_.empty());
    loop_.ProcessMessages();
    EXPECT_EQ(received_, "abc");
    EXPECT_EQ(sources_, std::vector<CharSource>{CharSource::csWriteChar});
    EXPECT_EQ(pipe_.Count(), 0);
}

TEST_F(Pipe, AFloodOverManySlicesIsHandedOnWholeAndInOrder) {
    // Each step takes a whole slice.
    stepMs_ = kReceiveSliceMs;
    std::string flood;
    for (int i = 0; flood.size() < 10 * kReceiveStep + 5; ++i) {
        flood += std::to_string(i) + ",";
    }
    Write(flood);
    ASSERT_TRUE(loop_.ProcessUntil([this] { return pipe_.Count() == 0; }, 5000));
    EXPECT_TRUE(received_ == flood) << received_.size() << " of " << flood.size() << " bytes";
}

TEST_F(Pipe, ASliceHandsOnStepsUntilItsTimeIsUp) {
    // The slice's time runs out during its third step.
    slowStep_ = 3;
    Write(std::string(10 * kReceiveStep, 'x'));
    loop_.ProcessMessages();
    EXPECT_EQ(chunks_.size(), 3u);
}

TEST_F(Pipe, OnAFastMachineOneMessageHandsOnAWholeFlood) {
    const std::string flood(5 * kReceiveStep + 3, 'x');
    Write(flood);
    loop_.ProcessMessages();
    EXPECT_EQ(received_, flood);
}

TEST_F(Pipe, AHandlerThatServesMessagesGetsTheRestBehindItsOwnStep) {
    // The first step's handler runs a loop of its own (a modal dialog): the rest is
    // handed on there, in order, while that handler is still running.
    stepMs_ = kReceiveSliceMs;
    std::string flood;
    for (int i = 0; static_cast<int>(flood.size()) < 3 * kReceiveStep; ++i) {
        flood += std::to_string(i) + ",";
    }
    std::string seenInside;
    onChunk_ = [&] {
        loop_.ProcessUntil([this] { return pipe_.Count() == 0; }, 5000);
        seenInside = received_;
    };
    Write(flood);
    loop_.ProcessMessages();
    EXPECT_TRUE(seenInside == flood) << seenInside.size() << " of " << flood.size() << " bytes";
}

TEST_F(Pipe, WithoutAWindowOneTakeHandsOnEverything) {
    windowAllowed_ = false;
    stepMs_ = kReceiveSliceMs;
    Write(std::string(kReceiveStep + 1, 'y'));
    TakeNow();
    EXPECT_EQ(chunks_, (std::vector<int>{kReceiveStep, 1}));
}

TEST_F(Pipe, TakeAllLeavesNothingForALaterMessage) {
    stepMs_ = kReceiveSliceMs;
    Write(std::string(kReceiveStep + 1, 'z'));
    pipe_.TakeAll([this](const uint8_t* data, int n, CharSource source) { Chunk(data, n, source); });
    EXPECT_EQ(received_.size(), static_cast<size_t>(kReceiveStep + 1));
    loop_.ProcessMessages();  // the message posted by the write finds the queue empty
    EXPECT_EQ(chunks_.size(), 2u);
}

TEST_F(Pipe, BytesQueuedBeforeTheWindowArePostedForWhenItComes) {
    windowAllowed_ = false;
    Write("early");
    windowAllowed_ = true;
    Window();
    loop_.ProcessMessages();
    EXPECT_EQ(received_, "early");
}

TEST_F(Pipe, ActiveWithoutAPortOnlyMarksTheAttachPending) {
    pipe_.SetActive(true);
    EXPECT_TRUE(pipe_.AttachPending());
    pipe_.AttachStep();
    loop_.ProcessMessages();
    EXPECT_FALSE(pipe_.Hooked());
    EXPECT_EQ(attachMessages_, 0);
    pipe_.SetActive(false);
    EXPECT_FALSE(pipe_.AttachPending());
}

}  // namespace
}  // namespace hydrix::terminal::test
