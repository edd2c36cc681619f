#include "terminal/command_list.h"

#include <gtest/gtest.h>

#include <string>

namespace hydrix::terminal {
namespace {

TEST(EmuCommandParams, NameBeforePositionThenDefault) {
    EmuCommandListItem item;
    EmuCommandParams& p = item.Params();
    EXPECT_EQ(p.GetOwner(), &item);
    p.Add("Row", "5");
    p.Add("", "7");
    EXPECT_EQ(p.GetIntParam("Row", 0, -1), 5);
    EXPECT_EQ(p.GetIntParam("Col", 1, -1), 7);
    EXPECT_EQ(p.GetIntParam("Count", 2, -1), -1);
    // A named parameter is found wherever it stands.
    EXPECT_EQ(p.GetIntParam("Row", 1, -1), 5);
    // A name that does not match falls back to the position even if that item is named.
    EXPECT_EQ(p.GetIntParam("Other", 0, -1), 5);
    EXPECT_EQ(p.GetIntParam("Other", -1, -1), -1);
}

TEST(EmuCommandParams, IndexOfNameIsExactAndFirstMatch) {
    EmuCommandListItem item;
    EmuCommandParams& p = item.Params();
    p.Add("Color", "1");
    p.Add("color", "2");
    p.Add("Color", "3");
    EXPECT_EQ(p.IndexOfName("Color"), 0);
    EXPECT_EQ(p.IndexOfName("color"), 1);
    EXPECT_EQ(p.IndexOfName("COLOR"), -1);
    EXPECT_EQ(p.IndexOfName(""), -1);
}

struct ValueCase {
    const char* value;
    bool boolWithTrueDefault;
    bool boolWithFalseDefault;
    int32_t intWithDefault99;
};

TEST(EmuCommandParams, BooleanAndNumberConversions) {
    const ValueCase cases[] = {
        {"YES", true, true, 99},
        {"yes", true, true, 99},
        {"T", true, true, 99},
        {"true", true, true, 99},
        {"On", true, true, 99},
        {"1", true, true, 1},
        {"no", false, false, 99},
        {"F", false, false, 99},
        {"FALSE", false, false, 99},
        {"off", false, false, 99},
        {"0", false, false, 0},
        {"maybe", true, false, 99},
        {"", true, false, 99},
        {"$FF", true, false, 255},
        {"$ff", true, false, 255},
        {"12abc", true, false, 99},
        {"-12", true, false, -12},
        {"+7", true, false, 7},
        {"$", true, false, 99},
        {"-", true, false, 99},
        {" 5", true, false, 99},
        {"$FFFFFFFF", true, false, -1},
        {"$100000000", true, false, 99},
        {"2147483647", true, false, 2147483647},
        {"-2147483648", true, false, INT32_MIN},
        {"2147483648", true, false, 99},
        {"$G", true, false, 99},
    };
    for (const ValueCase& c : cases) {
        EmuCommandListItem item;
        item.Params().Add("V", c.value);
        EXPECT_EQ(item.Params().GetBoolParam("V", 0, true), c.boolWithTrueDefault) << c.value;
        EXPECT_EQ(item.Params().GetBoolParam("V", 0, false), c.boolWithFalseDefault) << c.value;
        EXPECT_EQ(item.Params().GetIntParam("V", 0, 99), c.intWithDefault99) << c.value;
    }
}

TEST(EmuCommandParams, ColourAndStringLookups) {
    EmuCommandListItem item;
    EmuCommandParams& p = item.Params();
    p.Add("Fore", "$00FFFFFF");
    p.Add("Back", "bad");
    p.Add("String", "hello");
    EXPECT_EQ(p.GetColorParam("Fore", 0, 1), 0x00FFFFFFu);
    EXPECT_EQ(p.GetColorParam("Back", 1, 0xC0C0C0), 0xC0C0C0u);
    EXPECT_EQ(p.GetColorParam("None", 5, 0x123456), 0x123456u);
    EXPECT_EQ(p.GetStrParam("String", 0, "x"), "hello");
    EXPECT_EQ(p.GetStrParam("Missing", 9, "x"), "x");
}

TEST(EmuCommandList, KeepsOrderAndOwnsItems) {
    EmuCommandList list(nullptr);
    list.Add(EmuCommand::ecHome);
    list.Add(EmuCommand::ecCursorPos).Params().Add("", "3");
    list.Add();
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0].Command(), EmuCommand::ecHome);
    EXPECT_EQ(list[1].Command(), EmuCommand::ecCursorPos);
    EXPECT_EQ(list[1].Params().GetIntParam("Row", 0, 1), 3);
    EXPECT_EQ(list[2].Command(), EmuCommand::ecNone);
    EXPECT_EQ(list[2].Params().Count(), 0);
    list.Delete(0);
    EXPECT_EQ(list[0].Command(), EmuCommand::ecCursorPos);
    EXPECT_THROW(list.Delete(5), std::out_of_range);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace hydrix::terminal
