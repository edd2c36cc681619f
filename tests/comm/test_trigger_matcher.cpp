// Data-trigger matching: golden cases, each run byte by byte through the matcher and
// again through a dispatcher fed in random read splits (the match must not depend on
// how the bytes were cut into reads).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "comm/trigger_matcher.h"
#include "comm/triggers.h"
#include "fake_device.h"

namespace hydrix::comm {
namespace {

struct TriggerDef {
    std::string Text;
    bool IgnoreCase = false;
};

struct Firing {
    int Trigger;   // index into the case's triggers
    size_t Index;  // index of the byte that completed the match
    bool operator==(const Firing&) const = default;
};

struct MatchCase {
    const char* Name;
    std::vector<TriggerDef> Triggers;
    std::string Input;
    std::vector<Firing> Expected;  // in delivery order
};

std::ostream& operator<<(std::ostream& os, const Firing& f) {
    return os << "{trigger " << f.Trigger << " at " << f.Index << "}";
}

const std::vector<MatchCase>& Cases() {
    static const std::vector<MatchCase> cases = {
        {"abc", {{"abc"}}, "xxabcx", {{0, 4}}},
        {"aabOverAaab", {{"aab"}}, "aaab", {{0, 3}}},
        {"aaOverAaaa", {{"aa"}}, "aaaa", {{0, 1}, {0, 2}}},
        {"prompt", {{">"}}, "PS3\r\nline>\r\n>", {{0, 9}, {0, 12}}},
        {"ignoreCase", {{"PASS", true}}, "pass Pass PaSs", {{0, 3}, {0, 8}, {0, 13}}},
        {"caseSensitive", {{"PASS"}}, "pass PASS", {{0, 8}}},
        {"completedMatchCancelsOthers", {{"abab"}}, "abababab", {{0, 3}, {0, 7}}},
        {"restartAfterPartial", {{"xyz"}}, "xyxyzz", {{0, 4}}},
        {"noMatch", {{"xyz"}}, "xyxzyz xy", {}},
        {"maxLength", {{"abcdefghijklmnopqrstu"}}, "__abcdefghijklmnopqrstu", {{0, 22}}},
        // Two triggers completing on one byte: last registered first.
        {"sameByte", {{"ab"}, {"b"}}, "xab", {{1, 2}, {0, 2}}},
        {"latin1IgnoreCase", {{"\xe9t\xe9", true}}, "\xc9T\xc9", {{0, 2}}},
    };
    return cases;
}

class MatcherCases : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatcherCases, ByteByByte) {
    const MatchCase& c = GetParam();
    std::vector<DataTrigger> triggers(c.Triggers.size());
    for (size_t t = 0; t < triggers.size(); ++t) {
        const auto& def = c.Triggers[t];
        InitDataTrigger(triggers[t], reinterpret_cast<const uint8_t*>(def.Text.data()),
                        static_cast<int>(def.Text.size()), def.IgnoreCase);
    }
    std::vector<Firing> got;
    for (size_t i = 0; i < c.Input.size(); ++i) {
        std::vector<Firing> here;
        for (size_t t = 0; t < triggers.size(); ++t) {
            if (MatchTriggerByte(triggers[t], static_cast<uint8_t>(c.Input[i]))) {
                here.push_back({static_cast<int>(t), i});
            }
        }
        got.insert(got.end(), here.rbegin(), here.rend());
    }
    EXPECT_EQ(got, c.Expected);
}

// Feeds the case through a dispatcher in reads cut at random places: the same
// triggers fire in the same order, each within the read that brought its last byte.
TEST_P(MatcherCases, ThroughDispatcherInRandomSplits) {
    const MatchCase& c = GetParam();
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        test::FakeDispatcher d;
        ASSERT_EQ(d.Open(), 0);
        std::vector<int> handles;
        for (const auto& def : c.Triggers) {
            const int h = d->NewDataTrigger(def.Text.data(), def.IgnoreCase, static_cast<int>(def.Text.size()));
            ASSERT_GT(h, 0);
            handles.push_back(h);
        }
        size_t readStart = 0;
        std::vector<int> order;
        std::vector<size_t> readStarts;
        std::vector<int> available;
        d->AttachMethodHandler(&order, [&](uint32_t msg, uint32_t handle, int32_t param) {
            ASSERT_EQ(msg, kTriggerDataMsg);
            const auto it = std::find(handles.begin(), handles.end(), static_cast<int>(handle));
            ASSERT_NE(it, handles.end());
            EXPECT_EQ(NotifyDataOf(param), c.Triggers[static_cast<size_t>(it - handles.begin())].Text.size());
            order.push_back(static_cast<int>(it - handles.begin()));
            readStarts.push_back(readStart);
            available.push_back(d->BytesAvailable());
        });
        while (readStart < c.Input.size()) {
            const size_t n = std::uniform_int_distribution<size_t>(1, 5)(rng);
            d.ReceiveAndCycle(c.Input.substr(readStart, n));
            readStart += n;
        }
        d->RunDeviceCycle();
        ASSERT_EQ(order.size(), c.Expected.size()) << "round " << round;
        for (size_t i = 0; i < order.size(); ++i) {
            EXPECT_EQ(order[i], c.Expected[i].Trigger) << "round " << round;
            EXPECT_GE(c.Expected[i].Index, readStarts[i]) << "round " << round;
            EXPECT_LT(c.Expected[i].Index, static_cast<size_t>(available[i])) << "round " << round;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Golden, MatcherCases, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(TriggerMatcher, StateSurvivesBetweenCallsAndResets) {
    DataTrigger t;
    InitDataTrigger(t, reinterpret_cast<const uint8_t*>("abc"), 3, false);
    EXPECT_FALSE(MatchTriggerByte(t, 'a'));
    EXPECT_FALSE(MatchTriggerByte(t, 'b'));
    ResetPartialMatch(t);
    EXPECT_FALSE(MatchTriggerByte(t, 'c'));
    EXPECT_FALSE(MatchTriggerByte(t, 'a'));
    EXPECT_FALSE(MatchTriggerByte(t, 'b'));
    EXPECT_TRUE(MatchTriggerByte(t, 'c'));
}

TEST(TriggerMatcher, EmptyTriggerNeverMatches) {
    DataTrigger t;
    InitDataTrigger(t, nullptr, 0, false);
    EXPECT_FALSE(MatchTriggerByte(t, 0));
}

TEST(TriggerMatcher, IgnoreCaseStoresUpperCase) {
    DataTrigger t;
    InitDataTrigger(t, reinterpret_cast<const uint8_t*>("pAss"), 4, true);
    EXPECT_EQ(std::string(t.Data.begin(), t.Data.begin() + 4), "PASS");
    EXPECT_EQ(UpperCaseByte('z'), 'Z');
    EXPECT_EQ(UpperCaseByte('{'), '{');
    EXPECT_EQ(UpperCaseByte(0xF7), 0xF7);  // division sign has no case
}

}  // namespace
}  // namespace hydrix::comm
