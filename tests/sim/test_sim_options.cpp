#include "sim/sim_options.h"

#include <gtest/gtest.h>

namespace hydrix::sim {
namespace {

TEST(SimOptionsTest, ParsesEveryOption) {
    const ParseResult r = ParseSimOptions({"--serial",
                                           "A77",
                                           "--clock=07/12/31,23:59:58.99",
                                           "--no-serial",
                                           "--no-clock",
                                           "--fail",
                                           "3",
                                           "--fail",
                                           "pt200:2,PA:1",
                                           "--silent-after",
                                           "PS0:2",
                                           "--delay-ms",
                                           "250",
                                           "--byte-writes",
                                           "--pc2-records=4",
                                           "--pc2-interval-ms",
                                           "0",
                                           "--flood-seconds",
                                           "1.5",
                                           "--wake-on-open",
                                           "--keep-open",
                                           "--record",
                                           "/tmp/x.bin",
                                           "--link-com",
                                           "7",
                                           "--baud",
                                           "9600",
                                           "--verbose"});
    ASSERT_EQ(r.error, "");
    const SimOptions& o = r.options;
    EXPECT_EQ(o.serial, "A77");
    EXPECT_EQ(o.clock, "07/12/31,23:59:58.99");
    EXPECT_TRUE(o.noSerial && o.noClock && o.byteWrites && o.wakeOnOpen && o.keepOpen && o.verbose);
    EXPECT_EQ(o.failCount, 3);
    EXPECT_EQ(o.fails, (std::vector<FailingTest>{{"PT200", 2}, {"PA", 1}}));
    EXPECT_EQ(o.silentAfter, "PS0");
    EXPECT_EQ(o.silentOccurrence, 2);
    EXPECT_EQ(o.delayMs, 250);
    EXPECT_EQ(o.pc2Records, 4);
    EXPECT_EQ(o.pc2IntervalMs, 0);
    EXPECT_DOUBLE_EQ(o.floodSeconds, 1.5);
    EXPECT_EQ(o.recordFile, "/tmp/x.bin");
    EXPECT_EQ(o.linkCom, 7);
    EXPECT_EQ(o.baud, 9600);
    EXPECT_EQ(ParseSimOptions({"--device", "/dev/ttyS2"}).options.device, "/dev/ttyS2");

    EXPECT_EQ(ParseSimOptions({"--silent-after", "Ts?"}).options.silentAfter, "Ts?");
    EXPECT_EQ(ParseSimOptions({"--silent-after", "Ts?"}).options.silentOccurrence, 1);
    EXPECT_EQ(ParseSimOptions({"--serial", ""}).options.serial, "");
    EXPECT_TRUE(ParseSimOptions({"--help"}).help);
}

TEST(SimOptionsTest, RejectsBadCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--serial"},
        {"--delay-ms", "-1"},
        {"--delay-ms", "12x"},
        {"--fail", "PS0:1"},
        {"--fail", "PT200:0"},
        {"--fail", "PT200"},
        {"--fail", "PA:1,"},
        {"--link-com", "0"},
        {"--link-com", "256"},
        {"--flood-seconds", "nan"},
        {"--flood-seconds", "-2"},
        {"--record", ""},
        {"--silent-after", ":2"},
        {"--byte-writes=yes"},
        {"--pc2-records", ""},
        {"--device", ""},
        {"--baud", "0"},
        {"--link-com", "5", "--device", "/dev/ttyS2"},
    };
    for (const auto& args : bad) {
        const ParseResult r = ParseSimOptions(args);
        EXPECT_NE(r.error, "") << args[0] << (args.size() > 1 ? " " + args[1] : "");
        EXPECT_EQ(r.error.rfind(args[0].substr(0, args[0].find('=')), 0), 0u) << "names the option: " << r.error;
    }
}

}  // namespace
}  // namespace hydrix::sim
