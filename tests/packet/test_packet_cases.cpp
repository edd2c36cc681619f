// Data-driven packet cases: each input is fed as one read and in many random splits
// (single bytes included) and must deliver the same packets in the same order.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>

#include "packet_test_util.h"

namespace hydrix::packet::test {
namespace {

using EC = PacketEndCond;

struct PacketSetup {
    std::string Name;
    std::string Start;
    PacketEndConds End;
    std::string EndString;
    int32_t Size = 0;
    bool Include = true;
    bool IgnoreCase = true;
    PacketStartCond StartCond = PacketStartCond::scString;
};

struct PacketCase {
    std::string Title;
    std::vector<PacketSetup> Packets;
    std::string Input;
    std::vector<std::string> Expected;
};

void PrintTo(const PacketCase& c, std::ostream* os) {
    *os << c.Title;
}

const PacketSetup kPass{"PASS", "PASS", {EC::ecPacketSize}, "", 4};
const PacketSetup kFail{"FAIL", "FAIL", {EC::ecPacketSize}, "", 4};
const PacketSetup kSerial{"SN", "Instrument S/N:  ", {EC::ecString}, "       Frequency:", 0, false};
const PacketSetup kClock{"TS", "TS = ", {EC::ecString}, "-", 0, false, false};

const std::vector<PacketCase> kCases = {
    {"size packet holds one byte past the start string", {kPass}, "xxPASS\r\nPASS", {"PASS:PASS\r"}},
    {"partial start match resumes one byte later", {kPass}, "PPASS!", {"PASS:PASS!"}},
    {"start string split by other text is no match", {kPass}, "PAxSS PASPASS. ", {"PASS:PASS."}},
    {"abandoned partial end match", {{"P", "<", {EC::ecString}, "  F"}}, "<x   F", {"P:<x   F"}},
    {"end string found after repeated prefixes", {{"P", "[", {EC::ecString}, "aab"}}, "[aaaab]", {"P:[aaaab"}},
    {"include strings false gives the bytes between",
     {{"P", "S/N:", {EC::ecString}, "\r\n", 0, false}},
     "junk S/N:1234\r\nS/N:\r\n",
     {"P:1234", "P:"}},
    {"escaped question mark is literal", {{"P", "a\\?b", {}, ""}}, "axb a?b", {"P:a?b"}},
    {"unescaped question mark is a wildcard",
     {{"P", "a?b", {}, "", 0, true, false}},
     "axb a?b aab",
     {"P:axb", "P:a?b", "P:aab"}},
    {"escaped backslash and wildcard in the end string",
     {{"P", "<", {EC::ecString}, "\\\\?", 0, true, false}},
     "<ab\\x<\\\\",
     {"P:<ab\\x", "P:<\\\\"}},
    {"ignore case matches every spelling",
     {{"P", "pass", {EC::ecPacketSize}, "", 4}},
     "PASS.Pass.pass.BYPASS.",
     {"P:PASS.", "P:Pass.", "P:pass.", "P:PASS."}},
    {"case kept when not ignored",
     {{"P", "pass", {EC::ecPacketSize}, "", 4, true, false}},
     "PASS.Pass.pass.",
     {"P:pass."}},
    {"size and string end: whichever comes first",
     {{"P", "<", {EC::ecString, EC::ecPacketSize}, ">", 4}},
     "<a><bcdef>",
     {"P:<a>", "P:<bcd"}},
    {"PASS then FAIL", {kPass, kFail}, "test 1 PASS\r\ntest 2 FAIL\r\n", {"PASS:PASS\r", "FAIL:FAIL\r"}},
    {"FAIL then PASS in one read both counted in order",
     {kPass, kFail},
     "test 1 FAIL\r\ntest 2 PASS\r\ntest 3 FAIL\r\n",
     {"FAIL:FAIL\r", "PASS:PASS\r", "FAIL:FAIL\r"}},
    {"the byte after a report belongs to it", {kPass, kFail}, "FAILPASSFAILx", {"FAIL:FAILP", "FAIL:FAILx"}},
    {"the collecting packet hides reports inside it",
     {kPass, kFail, kSerial},
     "Instrument S/N:  PASS 12 FAIL       Frequency: 600 PASS\r\n",
     {"SN:PASS 12 FAIL", "PASS:PASS\r"}},
    {"station reports",
     {kPass, kFail, kSerial, kClock},
     ">PS0\r\nInstrument S/N:  1234       Frequency: 614400 Hz\r\n>TS?\r\nTS = 07/12/31,23:59:58.99 - "
     "Y/M/D\r\n>PT200\r\nRAM test ... PASS\r\nROM test ... FAIL\r\nReceive ... pass\r\n>",
     {"SN:1234", "TS:07/12/31,23:59:58.99 ", "PASS:PASS\r", "FAIL:FAIL\r", "PASS:pass\r"}},
    {"size counts from the start string's first byte also without the strings",
     {{"P", "ID:", {EC::ecPacketSize}, "", 6, false}},
     "ID:12345ID:6789",
     {"P:123", "P:678"}},
    {"start strings complete on the same byte: the first in the list claims",
     {{"AB", "ab", {EC::ecString}, ">"}, {"B", "b", {EC::ecString}, ">"}},
     "xab1>b2>",
     {"AB:ab1>", "B:b2>"}},
    {"start strings complete on the same byte: the first in the list claims, even the shorter",
     {{"B", "b", {EC::ecString}, ">"}, {"AB", "ab", {EC::ecString}, ">"}},
     "xab1>b2>",
     {"B:b1>", "B:b2>"}},
    {"any-data packet ends at its byte count",
     {{"A", "", {EC::ecPacketSize}, "", 3, true, true, PacketStartCond::scAnyData}},
     "abcdefgh",
     {"A:abc", "A:def"}},
};

std::vector<std::string> RunCase(const PacketCase& c, unsigned seed, size_t maxRead = 6) {
    DataPacketManager manager;
    std::vector<std::unique_ptr<DataPacket>> packets;
    EventLog log;
    for (const PacketSetup& s : c.Packets) {
        auto p = std::make_unique<DataPacket>(s.Name);
        p->SetStartCond(s.StartCond);
        p->SetStartString(s.Start);
        p->SetEndCond(s.End);
        p->SetEndString(s.EndString);
        p->SetPacketSize(s.Size);
        p->SetIncludeStrings(s.Include);
        p->SetIgnoreCase(s.IgnoreCase);
        log.Watch(*p);
        manager.AddPacket(*p);
        p->SetEnabled(true);
        packets.push_back(std::move(p));
    }
    manager.Enable();
    Feed(manager, RandomSplits(c.Input, seed, maxRead));
    return log.events;
}

class PacketCaseTest : public ::testing::TestWithParam<PacketCase> {};

TEST_P(PacketCaseTest, SameResultInEverySplit) {
    const PacketCase& c = GetParam();
    EXPECT_EQ(RunCase(c, 0), c.Expected) << "one read";
    for (unsigned seed = 1; seed <= 40; ++seed) {
        ASSERT_EQ(RunCase(c, seed), c.Expected) << "seed " << seed;
    }
    EXPECT_EQ(RunCase(c, 1, 1), c.Expected) << "one byte per read";
}

INSTANTIATE_TEST_SUITE_P(Packets, PacketCaseTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PacketCase>& info) {
                             std::string name;
                             for (char ch : info.param.Title) {
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace hydrix::packet::test
