// The "Select Port" dialog over its model, and the chooser that shows it modally.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "gui/port_select_dialog.h"
#include "gui_test_util.h"

namespace hydrix::gui {
namespace {

comm::ComSelectModel::AvailabilityTest Ports(std::set<int> available) {
    return [available](int n) { return available.count(n) != 0; };
}

TEST(PortSelectDialog, ShowsTheFormWithTheAvailablePortsAndTheFirstSelected) {
    comm::ComSelectModel model(Ports({12, 3, 50, 51}));
    PortSelectDialog dialog(model);
    EXPECT_EQ(dialog.windowTitle(), "Select Port");
    EXPECT_EQ(dialog.size(), QSize(220, 131));
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        labels << label->text();
    }
    EXPECT_TRUE(labels.contains("The configured serial port is not valid."));
    EXPECT_TRUE(labels.contains("Please choose another port."));
    QComboBox* combo = dialog.PortsComboBox();
    ASSERT_EQ(combo->count(), 3);  // above COM50 is never listed
    EXPECT_EQ(combo->itemText(0), "COM3");
    EXPECT_EQ(combo->itemText(2), "COM50");
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_FALSE(combo->isEditable());
    EXPECT_TRUE(dialog.OkBtn()->isDefault());
    EXPECT_EQ(dialog.OkBtn()->geometry(), QRect(8, 95, 85, 27));
    EXPECT_EQ(dialog.AbortBtn()->geometry(), QRect(124, 95, 85, 27));
}

TEST(PortSelectDialog, ButtonsAndCloseSetTheModalResult) {
    struct Case {
        const char* name;
        int pick;  // combo index chosen before closing
        int how;   // 0 OK, 1 Cancel, 2 close box / Esc
        std::optional<int> choice;
    };
    const Case cases[] = {
        {"OK at once takes the lowest", 0, 0, 3},
        {"OK after choosing", 1, 0, 12},
        {"Cancel", 1, 1, std::nullopt},
        {"closed", 0, 2, std::nullopt},
    };
    for (const Case& c : cases) {
        comm::ComSelectModel model(Ports({3, 12}));
        PortSelectDialog dialog(model);
        dialog.PortsComboBox()->setCurrentIndex(c.pick);
        test::WhenModalShown([&](QDialog*) {
            if (c.how == 0) {
                QTest::mouseClick(dialog.OkBtn(), Qt::LeftButton);
            }
            if (c.how == 1) {
                QTest::mouseClick(dialog.AbortBtn(), Qt::LeftButton);
            }
            if (c.how == 2) {
                dialog.close();
            }
        });
        dialog.exec();
        EXPECT_EQ(model.Choice(), c.choice) << c.name;
    }
}

TEST(PortSelectDialog, ChooserShowsTheDialogModallyAndReportsAnEmptyListOnOk) {
    DialogPortChooser chooser(nullptr, Ports({7}));
    test::WhenModalShown([](QDialog* dialog) { dialog->accept(); });
    EXPECT_EQ(chooser.Choose(), 7);

    DialogPortChooser none(nullptr, Ports({}));
    test::WhenModalShown([](QDialog* dialog) { dialog->accept(); });
    try {
        none.Choose();
        ADD_FAILURE() << "OK with an empty list must fail";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    test::WhenModalShown([](QDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(none.Choose(), std::nullopt);
}

}  // namespace
}  // namespace hydrix::gui
