// The side panel's font size from metrics the test gives: kept when every text fits,
// made smaller only as far as the widest text needs (a bold caption counts as bold), and
// the smallest when nothing fits.
#include <gtest/gtest.h>

#include <vector>

#include "gui/panel_font.h"

namespace hydrix::gui {
namespace {

// Every character the same advance, a fraction of the pixel size; bold ones wider.
TextWidth Metrics(qreal advancePerPixel, qreal boldFactor) {
    return
        [=](int px, const PanelText& t) { return t.text.size() * advancePerPixel * px * (t.bold ? boldFactor : 1.0); };
}

TEST(PanelFont, LargestSizeAtWhichEveryTextFits) {
    const std::vector<PanelText> texts = {{"Serial Number:", true}, {"99/12/31,23:59:59.99", false}};
    struct Case {
        const char* what;
        qreal room;
        qreal boldFactor;
        int expected;
    };
    const std::vector<Case> cases = {
        // The clock (20 x 0.6 = 12 per pixel) is the widest.
        {"everything fits at the nominal size", 200, 1.0, 11},
        {"exactly fits", 132, 1.0, 11},
        {"a fraction over shrinks by one", 131.9, 1.0, 10},
        {"the clock sets the size", 103, 1.0, 8},
        // Bold twice as wide: the caption (14 x 0.6 x 2 = 16.8 per pixel) is the widest.
        {"a bold caption sets the size", 103, 2.0, 6},
        {"nothing fits", 20, 1.0, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FittingPixelSize(11, 4, c.room, texts, Metrics(0.6, c.boldFactor)), c.expected);
    }
}

}  // namespace
}  // namespace hydrix::gui
