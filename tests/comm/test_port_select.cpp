// Port selection: the availability test over real pseudo-terminals mapped as COM ports
// in a temporary Wine prefix, and the selection dialog's model.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "comm/com_port.h"
#include "comm/exceptions.h"
#include "comm/port_select.h"
#include "platform/fault_plan.h"
#include "platform/holder_process.h"
#include "platform/message_loop.h"
#include "pty_helper.h"

namespace hydrix::comm {
namespace {

class PortSelectTest : public ::testing::Test {
protected:
    void SetUp() override { platform::MessageLoop::Instance().AttachToCurrentThread(); }
    void TearDown() override {
        SetTestPortsThroughDispatcher(true);
        SetShowPortsInUse(true);
    }
};

bool Listed(const ComSelectModel& model, const std::string& entry) {
    const auto& e = model.Entries();
    return std::find(e.begin(), e.end(), entry) != e.end();
}

TEST_F(PortSelectTest, FreeAndHeldPortsAreListedAndNothingAboveFifty) {
    test::PtyPair free;
    test::PtyPair held;
    test::PtyPair high;
    test::TempWinePrefix prefix;
    prefix.LinkCom(5, free.SlavePath());
    prefix.LinkCom(9, held.SlavePath());
    prefix.LinkCom(51, high.SlavePath());
    ComPort holder;
    holder.SetComNumber(9);
    holder.SetOpen(true);

    for (const bool throughDispatcher : {true, false}) {
        SCOPED_TRACE(throughDispatcher ? "through a dispatcher" : "direct open");
        SetTestPortsThroughDispatcher(throughDispatcher);
        EXPECT_TRUE(IsPortAvailable(5));
        EXPECT_TRUE(IsPortAvailable(9));
        EXPECT_TRUE(IsPortAvailable(51));
        EXPECT_FALSE(IsPortAvailable(0));
        EXPECT_FALSE(IsPortAvailable(200));

        ComSelectModel model;
        model.FormCreate();
        EXPECT_TRUE(Listed(model, "COM5"));
        EXPECT_TRUE(Listed(model, "COM9"));
        EXPECT_FALSE(Listed(model, "COM51"));
        std::vector<int> numbers;
        for (const auto& entry : model.Entries()) {
            numbers.push_back(std::stoi(entry.substr(3)));
        }
        EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
        EXPECT_LE(numbers.back(), kHighestListedPort);
    }
    // The test leaves a free port free and a held port held.
    EXPECT_TRUE(holder.Open());
    ComPort user;
    user.SetComNumber(5);
    EXPECT_NO_THROW(user.SetOpen(true));

    SetShowPortsInUse(false);
    EXPECT_FALSE(IsPortAvailable(9));
}

TEST_F(PortSelectTest, PortHeldByAnotherProgramIsListedAsInUse) {
    test::PtyPair pty;
    test::TempWinePrefix prefix;
    prefix.LinkCom(6, pty.SlavePath());
    test::HolderProcess other(test::HolderProcess::OpenPath(pty.SlavePath()));
    for (const bool throughDispatcher : {true, false}) {
        SetTestPortsThroughDispatcher(throughDispatcher);
        EXPECT_TRUE(IsPortAvailable(6)) << throughDispatcher;
    }
    SetShowPortsInUse(false);
    EXPECT_FALSE(IsPortAvailable(6)) << "in use, not free";
}

TEST_F(PortSelectTest, DeadPortIsNotListedAndNoPermissionIs) {
    // A device file with no hardware behind it fails with EIO; a device the user may not
    // open is there, and opening it says which group grants access.
    test::PtyPair pty;
    test::TempWinePrefix prefix;
    prefix.LinkCom(4, pty.SlavePath());
    test::ScopedFaultPlan plan;
    for (const bool throughDispatcher : {true, false}) {
        SCOPED_TRACE(throughDispatcher ? "through a dispatcher" : "direct open");
        SetTestPortsThroughDispatcher(throughDispatcher);
        test::PlanFault(platform::sys::Op::Open, EIO, 1);
        EXPECT_FALSE(IsPortAvailable(4));
        test::PlanFault(platform::sys::Op::Open, EACCES, 1);
        EXPECT_TRUE(IsPortAvailable(4));
    }
}

TEST_F(PortSelectTest, FirstEntrySelectedAndOkTakesItsNumber) {
    const std::set<int> available{3, 12, 50, 51};
    ComSelectModel model([&](int n) { return available.count(n) > 0; });
    model.FormCreate();
    EXPECT_EQ(model.Entries(), (std::vector<std::string>{"COM3", "COM12", "COM50"}));
    EXPECT_EQ(model.ItemIndex(), 0);
    model.Ok();
    EXPECT_EQ(model.Choice(), 3);
    model.SetItemIndex(1);
    EXPECT_EQ(model.SelectedNumber(), 12);
    model.Cancel();
    EXPECT_EQ(model.Choice(), std::nullopt);
}

TEST_F(PortSelectTest, OkOnAnEmptyListFailsTheConversion) {
    ComSelectModel model([](int) { return false; });
    model.FormCreate();
    EXPECT_TRUE(model.Entries().empty());
    EXPECT_EQ(model.ItemIndex(), -1);
    model.Ok();
    try {
        model.Choice();
        FAIL() << "an empty selection converted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "'' is not a valid integer value");
    }
}

}  // namespace
}  // namespace hydrix::comm
