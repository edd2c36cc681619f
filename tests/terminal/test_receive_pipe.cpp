// The receive pipe without a port: written text through the queue, chunking, and what
// happens with and without a window. The port side is in test_terminal_control_pty.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/message_loop.h"
#include "terminal/emu_command.h"
#include "terminal/receive_pipe.h"

namespace hydrix::terminal::test {
namespace {

class Pipe : public ::testing::Test {
protected:
    void SetUp() override { loop_.AttachToCurrentThread(); }
    void TearDown() override {
        if (window_ != 0) {
            loop_.DestroyWindow(window_);
        }
        loop_.ProcessMessages();
    }

    // The window the pipe posts to, made when the pipe first asks, as the control does.
    platform::WindowHandle Window() {
        if (window_ == 0 && windowAllowed_) {
            window_ = loop_.CreateWindow([this](uint32_t msg, platform::WParam w, platform::LParam) {
                if (msg == AM_TERMDATA) {
                    ++dataMessages_;
                    pipe_.Take(w, [this](const uint8_t* data, int n, CharSource source) { Chunk(data, n, source); });
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
    }
    void Write(const std::string& text) {
        pipe_.Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
    }

    platform::MessageLoop& loop_ = platform::MessageLoop::Instance();
    platform::WindowHandle window_ = 0;
    bool windowAllowed_ = true;
    int dataMessages_ = 0;
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

TEST_F(Pipe, AFloodIsHandedOnOneChunkPerMessage) {
    const std::string flood(2 * kReceiveChunk + 5, 'x');
    Write(flood);
    ASSERT_TRUE(loop_.ProcessUntil([this] { return pipe_.Count() == 0; }, 5000));
    EXPECT_EQ(chunks_, (std::vector<int>{kReceiveChunk, kReceiveChunk, 5}));
    EXPECT_EQ(dataMessages_, 3);
    EXPECT_EQ(received_, flood);
}

TEST_F(Pipe, WithoutAWindowOneTakeHandsOnEverything) {
    windowAllowed_ = false;
    Write(std::string(kReceiveChunk + 1, 'y'));
    pipe_.Take(static_cast<platform::WParam>(CharSource::csWriteChar),
               [this](const uint8_t* data, int n, CharSource source) { Chunk(data, n, source); });
    EXPECT_EQ(chunks_, (std::vector<int>{kReceiveChunk, 1}));
}

TEST_F(Pipe, TakeAllLeavesNothingForALaterMessage) {
    Write(std::string(kReceiveChunk + 1, 'z'));
    pipe_.TakeAll([this](const uint8_t* data, int n, CharSource source) { Chunk(data, n, source); });
    EXPECT_EQ(received_.size(), static_cast<size_t>(kReceiveChunk + 1));
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
