// The report's picture of the terminal: every screen row down to the last, and the
// scrollback from its oldest written row.
#include <gtest/gtest.h>

#include <string>

#include "app/report.h"
#include "platform/message_loop.h"
#include "terminal/terminal_control.h"

namespace hydrix::app::test {
namespace {

TEST(ReportRows, TheWholeScreenDownToItsLastRowAndTheScrollbackBeforeIt) {
    auto& loop = platform::MessageLoop::Instance();
    loop.AttachToCurrentThread();
    terminal::Terminal t;
    t.SetScrollbackRows(1000);
    t.SetRows(45);
    t.SetScrollback(true);
    std::string text;
    for (int i = 1; i <= 50; ++i) {
        text += "line " + std::to_string(i) + (i < 50 ? "\r\n" : "");
    }
    t.DisplayString(text);
    ASSERT_TRUE(loop.ProcessUntil([&] { return t.Receiver().Count() == 0; }, 5000));
    const std::vector<std::string> screen = ScreenRows(t);
    ASSERT_EQ(screen.size(), 45u);
    EXPECT_EQ(screen.front(), "line 6");
    EXPECT_EQ(screen.back(), "line 50");
    EXPECT_EQ(ScrollbackRows(t), (std::vector<std::string>{"line 1", "line 2", "line 3", "line 4", "line 5"}));
}

}  // namespace
}  // namespace hydrix::app::test
