// The lines the reports came in: a report counted before, while or after its line is
// fed gets the same whole line, in every split of the stream.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/received_lines.h"

namespace hydrix::app::test {
namespace {

void Feed(ReceivedLines& lines, uint64_t at, const std::string& text) {
    lines.Feed(at, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const std::string kStream =
    "banner\r\n  RAM ..... PASS\r\n  ROM ..... FAIL 0x\x1b\x01"
    "2\r\n>PT200\r\n";
// Places just past each report's packet ("PASS" and "FAIL" with one more byte).
uint64_t EndOf(const std::string& report) {
    return kStream.find(report) + report.size() + 1;
}

const std::vector<ReportResult> kExpected = {{"PASS", "  RAM ..... PASS"}, {"FAIL", "  ROM ..... FAIL 0x2"}};

TEST(ReceivedLines, ReportsCountedBeforeOrAfterTheirBytesGetTheWholeLine) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        ReceivedLines lines;
        // The packet manager may run before or after this reader within one offer.
        const bool countFirst = trial % 2 == 0;
        size_t at = 0;
        std::vector<std::pair<std::string, uint64_t>> reports = {{"PASS", EndOf("PASS")}, {"FAIL", EndOf("FAIL")}};
        size_t next = 0;
        while (at < kStream.size()) {
            const size_t n = std::min<size_t>(1 + random() % 9, kStream.size() - at);
            auto countDue = [&] {
                while (next < reports.size() && reports[next].second <= at + n) {
                    lines.Count(reports[next].first, reports[next].second);
                    ++next;
                }
            };
            if (countFirst) {
                countDue();
            }
            Feed(lines, at, kStream.substr(at, n));
            if (!countFirst) {
                countDue();
            }
            at += n;
        }
        ASSERT_EQ(lines.Results(), kExpected) << "trial " << trial;
    }
}

TEST(ReceivedLines, ALineStillArrivingIsGivenAsFarAsItCame) {
    ReceivedLines lines;
    Feed(lines, 0, "x\r\nDSP PASS");
    lines.Count("PASS", 11);
    EXPECT_EQ(lines.Results(), (std::vector<ReportResult>{{"PASS", "DSP PASS"}}));
    Feed(lines, 11, " 12 V\n");
    EXPECT_EQ(lines.Results(), (std::vector<ReportResult>{{"PASS", "DSP PASS 12 V"}}));
}

TEST(ReceivedLines, LongLinesAreCutAndGapsEndTheLine) {
    ReceivedLines lines;
    Feed(lines, 0, std::string(300, 'a') + "PASS");
    lines.Count("PASS", 304);
    // Bytes that never reached this reader: what follows them is another line.
    Feed(lines, 400, "tail\r\n");
    lines.Count("FAIL", 402);
    lines.Count("PASS", 0);  // a packet of no known place
    EXPECT_EQ(lines.Results(),
              (std::vector<ReportResult>{{"PASS", std::string(kReportLineMax, 'a')}, {"FAIL", "tail"}, {"PASS", ""}}));
}

}  // namespace
}  // namespace hydrix::app::test
