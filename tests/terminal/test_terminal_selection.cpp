// The selection on its own: a viewport over a buffer, a recording host, the clipboard of
// a headless user interface, and a port that keeps what it is sent.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "capturing_ui.h"
#include "platform/dialogs.h"
#include "terminal/fake_host.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_selection.h"
#include "terminal/terminal_viewport.h"
#include "terminal/tty_emulator_fixture.h"

namespace hydrix::terminal::test {
namespace {

constexpr int kCw = 8;
constexpr int kCh = 12;

class Selection : public ::testing::Test {
protected:
    void SetUp() override {
        previousUi_ = platform::SetUserInterface(ui_);
        view_.SetHost(&host_);
        view_.SetBuffer(&buffer_);
        view_.SetCell(CellSize{kCw, kCh});
        view_.Resize(80 * kCw, 24 * kCh);
        selection_.SetHost(&host_);
        selection_.SetBuffer(&buffer_);
        buffer_.WriteString("first line");
        buffer_.CursorPos(2, 1);
        buffer_.WriteString("second");
        platform::SetClipboardText("untouched");
    }
    void TearDown() override { platform::SetUserInterface(previousUi_); }

    static int X(int col) { return (col - 1) * kCw + 3; }
    static int Y(int row) { return (row - 1) * kCh + 5; }
    void Display(const std::string& text) { shown_.push_back(text); }

    std::shared_ptr<hydrix::test::CapturingUi> ui_ = std::make_shared<hydrix::test::CapturingUi>();
    std::shared_ptr<platform::UserInterface> previousUi_;
    FakeHost host_;
    TerminalBuffer buffer_;
    TerminalViewport view_{[] {}};
    TerminalSelection selection_{view_};
    TestPort port_;
    std::vector<std::string> shown_;
};

TEST_F(Selection, WithoutAutoCopyTheClipboardWaitsForCopy) {
    selection_.SetAutoCopy(false);
    selection_.Press(X(1), Y(1));
    selection_.Drag(X(5), Y(1));
    selection_.Release();
    EXPECT_EQ(platform::ClipboardText(), "untouched");
    selection_.Copy();
    EXPECT_EQ(platform::ClipboardText(), "first\r\n");
}

TEST_F(Selection, ExtendingWithinARowRepaintsOnlyThatRow) {
    selection_.Press(X(1), Y(2));
    host_.invalidated.clear();
    selection_.Drag(X(4), Y(2));
    ASSERT_EQ(host_.invalidated.size(), 1u);
    EXPECT_EQ(host_.invalidated[0], (PixelRect{0, kCh, 80 * kCw, 2 * kCh}));
}

TEST_F(Selection, APressWithMouseSelectOffSelectsNothing) {
    selection_.SetMouseSelect(false);
    selection_.Press(X(3), Y(1));
    selection_.Drag(X(6), Y(2));
    EXPECT_TRUE(selection_.Selecting());
    EXPECT_FALSE(selection_.HasSelection());
    EXPECT_EQ(selection_.Get().StartCol, 0);
}

TEST_F(Selection, ClearWithNothingSelectedRepaintsNothing) {
    host_.invalidated.clear();
    selection_.Clear();
    selection_.Cancel();
    EXPECT_TRUE(host_.invalidated.empty());
}

struct PasteCase {
    const char* name;
    bool toScreen;
    bool toPort;
    bool hasPort;
    std::vector<std::string> shown;
    std::string sent;
};

class Paste : public Selection, public ::testing::WithParamInterface<PasteCase> {};

TEST_P(Paste, RoutesTheClipboardText) {
    const PasteCase& c = GetParam();
    platform::SetClipboardText("ab");
    selection_.SetPasteToScreen(c.toScreen);
    selection_.SetPasteToPort(c.toPort);
    selection_.Paste([this](const std::string& text) { Display(text); }, c.hasPort ? &port_ : nullptr);
    EXPECT_EQ(shown_, c.shown);
    EXPECT_EQ(port_.sent, c.sent);
}

INSTANTIATE_TEST_SUITE_P(Cases, Paste,
                         ::testing::Values(PasteCase{"Nowhere", false, false, true, {}, ""},
                                           PasteCase{"ScreenOnly", true, false, true, {"ab"}, ""},
                                           PasteCase{"PortOnly", false, true, true, {}, "ab"},
                                           PasteCase{"BothCharacterByCharacter", true, true, true, {"a", "b"}, "ab"},
                                           PasteCase{"BothWithoutAPortShowsAtOnce", true, true, false, {"ab"}, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hydrix::terminal::test
