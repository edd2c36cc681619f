#include "sim/instrument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "sim_test_util.h"

namespace hydrix::sim {
namespace {

using test::Answer;
using test::Bytes;
using test::FixedClock;
using test::kStationSequence;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// True when text has the shape of pattern, where '9' stands for any digit.
bool HasShape(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (pattern[i] == '9' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
        ++n;
    }
    return n;
}

// The replies to the station's sequence, one per command.
std::vector<std::string> PlaySequence(const SimOptions& options) {
    Instrument instrument(options);
    std::vector<std::string> replies;
    for (const std::string& command : kStationSequence) {
        replies.push_back(Answer(instrument, command));
    }
    return replies;
}

TEST(InstrumentTest, EveryStepOfTheStationGetsExactlyOnePromptAtTheEnd) {
    const auto replies = PlaySequence(FixedClock());
    for (size_t i = 0; i < replies.size(); ++i) {
        SCOPED_TRACE(kStationSequence[i]);
        const std::string& reply = replies[i];
        ASSERT_FALSE(reply.empty());
        EXPECT_EQ(Count(reply, ">"), 1u);
        EXPECT_EQ(reply.back(), '>');
        if (kStationSequence[i] != "=====\r") {
            const std::string command = kStationSequence[i].substr(0, kStationSequence[i].size() - 1);
            EXPECT_EQ(reply.rfind(command + "\r\n", 0), 0u) << "echo first";
        }
    }
}

TEST(InstrumentTest, ReportsAppearOnlyWhereTheStationExpectsThem) {
    const auto replies = PlaySequence(FixedClock());
    const std::string clock = "TS = 07/12/31,23:59:58.99 --- ";
    const std::string serial = "Instrument S/N:  1234       Frequency:";
    for (size_t i = 0; i < replies.size(); ++i) {
        SCOPED_TRACE(kStationSequence[i]);
        const std::string& reply = replies[i];
        const std::string& command = kStationSequence[i];
        EXPECT_EQ(Count(reply, clock), command == "Ts?\r" ? 1u : 0u);
        EXPECT_EQ(Count(reply, "TS = "), command == "Ts?\r" ? 1u : 0u);
        EXPECT_EQ(Count(reply, serial), command == "PS0\r" ? 1u : 0u);
        EXPECT_EQ(Count(Lower(reply), "instrument s/n:  "), command == "PS0\r" ? 1u : 0u);
        const bool selfTest = command == "PT200\r" || command == "PA\r";
        if (!selfTest) {
            EXPECT_EQ(Count(Lower(reply), "pass"), 0u);
            EXPECT_EQ(Count(Lower(reply), "fail"), 0u);
        }
    }
    // Every PASS or FAIL in a self-test report is a result, and each is followed by a byte.
    for (const std::string& reply : {replies[8], replies[9]}) {
        const std::string lower = Lower(reply);
        EXPECT_EQ(Count(lower, "pass") + Count(lower, "fail"), Count(reply, "PASS\r\n") + Count(reply, "FAIL\r\n"));
    }
}

TEST(InstrumentTest, ScenariosSetResultsSerialAndClock) {
    struct Case {
        const char* name;
        SimOptions options;
        size_t pass;
        size_t fail;
        const char* serialReport;  // nullptr: none
        const char* clockReport;   // nullptr: none
    };
    SimOptions failTwo;
    failTwo.failCount = 2;
    SimOptions failNine;
    failNine.failCount = 9;
    SimOptions failAll;
    failAll.failCount = 1000;
    SimOptions failList;
    failList.fails = {{"PT200", 1}, {"PA", 3}, {"PA", 99}};
    SimOptions noSerial;
    noSerial.noSerial = true;
    SimOptions noClock;
    noClock.noClock = true;
    SimOptions values;
    values.serial = " A-77 ";
    values.clock = "08/01/02-03:04:05.06";
    const Case cases[] = {
        {"all pass", {}, 13, 0, "Instrument S/N:  1234       Frequency:", "TS = 07/12/31,23:59:58.99 --- "},
        {"two fail", failTwo, 11, 2, "S/N:  1234 ", "TS = "},
        {"nine fail", failNine, 4, 9, "S/N:  1234 ", "TS = "},
        {"all fail", failAll, 0, 13, "S/N:  1234 ", "TS = "},
        {"listed fail", failList, 11, 2, "S/N:  1234 ", "TS = "},
        {"no serial", noSerial, 13, 0, nullptr, "TS = "},
        {"no clock", noClock, 13, 0, "S/N:  1234 ", nullptr},
        {"set values", values, 13, 0, "Instrument S/N:   A-77        Frequency:", "TS = 08/01/02-03:04:05.06 --- "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions options = c.options;
        if (!options.clock) {
            options.clock = "07/12/31,23:59:58.99";
        }
        std::string all;
        for (const std::string& reply : PlaySequence(options)) {
            all += reply;
        }
        // Both self-tests are asked once in the station's sequence.
        EXPECT_EQ(Count(all, "PASS\r\n"), c.pass);
        EXPECT_EQ(Count(all, "FAIL\r\n"), c.fail);
        EXPECT_EQ(Count(Lower(all), "pass") + Count(Lower(all), "fail"), c.pass + c.fail);
        if (c.serialReport) {
            EXPECT_EQ(Count(all, c.serialReport), 2u);
        } else {
            EXPECT_EQ(Count(Lower(all), "instrument s/n:"), 0u);
        }
        if (c.clockReport) {
            EXPECT_EQ(Count(all, c.clockReport), 2u);
        } else {
            EXPECT_EQ(Count(all, "TS = "), 0u);
        }
    }
}

TEST(InstrumentTest, CountedFailuresFollowEveryPassOfTheirReport) {
    SimOptions options = FixedClock();
    options.failCount = 8;  // all six of PT200, two of PA
    Instrument instrument(options);
    Answer(instrument, "=====\r");
    for (const char* command : {"PT200\r", "PA\r"}) {
        const std::string reply = Answer(instrument, command);
        const size_t lastPass = reply.rfind("PASS");
        const size_t firstFail = reply.find("FAIL");
        ASSERT_NE(firstFail, std::string::npos) << command;
        if (lastPass != std::string::npos) {
            EXPECT_LT(lastPass, firstFail) << command;
        }
    }
}

TEST(InstrumentTest, AsleepUntilABreakText) {
    Instrument instrument(FixedClock());
    EXPECT_EQ(Answer(instrument, "CR1\rTs?\r"), "") << "commands before the wake-up are not seen";
    EXPECT_FALSE(instrument.Awake());
    const std::string banner = Answer(instrument, "========\r");
    EXPECT_NE(banner.find("[BREAK Wakeup A]"), std::string::npos);
    EXPECT_EQ(banner.back(), '>');
    EXPECT_TRUE(instrument.Awake());
    EXPECT_EQ(Answer(instrument, "xx=====\r"), banner) << "a break text after noise still wakes";
    instrument.LineClosed();
    EXPECT_EQ(Answer(instrument, "CR1\r"), "") << "asleep again after the line closed";
}

TEST(InstrumentTest, WakeOnOpenAnswersTheOpeningOfTheLine) {
    SimOptions options = FixedClock();
    EXPECT_TRUE(Instrument(options).LineOpened().empty());
    options.wakeOnOpen = true;
    Instrument instrument(options);
    const auto parts = instrument.LineOpened();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_GE(parts[0].delayMs, 330) << "after the station's break has ended";
    EXPECT_EQ(parts[0].bytes.back(), '>');
    EXPECT_EQ(Answer(instrument, "CR1\r"), "CR1\r\n[Parameters set to FACTORY defaults]\r\n>");
}

TEST(InstrumentTest, CommandsInAnyPiecesGiveTheSameReplies) {
    Instrument whole(FixedClock());
    std::string expected;
    for (const std::string& command : kStationSequence) {
        expected += Answer(whole, command);
    }

    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        Instrument split(FixedClock());
        std::string got;
        for (const std::string& command : kStationSequence) {
            for (size_t pos = 0; pos < command.size();) {
                const size_t n = std::min<size_t>(1 + rng() % 3, command.size() - pos);
                got += Answer(split, command.substr(pos, n));
                pos += n;
            }
        }
        EXPECT_EQ(got, expected);
    }
}

TEST(InstrumentTest, LineEditingAndOddInput) {
    Instrument instrument(FixedClock());
    Answer(instrument, "=====\r");
    EXPECT_EQ(Answer(instrument, "ts?\r").find("ts?\r\nTS = "), 0u) << "commands ignore case";
    EXPECT_EQ(Answer(instrument, "CRX\b1\r"), "CR1\r\n[Parameters set to FACTORY defaults]\r\n>");
    EXPECT_EQ(Answer(instrument, "CR1\r\n").find("CR1\r\n[Param"), 0u) << "a line feed is ignored";
    EXPECT_EQ(Answer(instrument, "\r"), "\r\n>");
    EXPECT_EQ(Answer(instrument, "XY\r"), "XY\r\nERR 002:  NOT RECOGNIZED\r\n>");
    const std::string longLine(100000, 'A');
    const std::string reply = Answer(instrument, longLine + "\r");
    EXPECT_LE(reply.size(), 300u) << "an overlong line is cut";
    EXPECT_EQ(reply.back(), '>');
}

TEST(InstrumentTest, SilentAfterACommandAnswersNothingMore) {
    struct Case {
        std::string silentAfter;
        int occurrence;
        size_t answeredSteps;  // steps of the station's sequence that got a prompt
    };
    const Case cases[] = {{"break", 1, 0}, {"CR1", 1, 1}, {"ts?", 2, 5}, {"PS0", 2, 6}, {"PA", 1, 9}, {"PC2", 1, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.silentAfter);
        SimOptions options = FixedClock();
        options.silentAfter = c.silentAfter;
        options.silentOccurrence = c.occurrence;
        Instrument instrument(options);
        size_t answered = 0;
        std::string afterSilence;
        for (const std::string& command : kStationSequence) {
            const std::string reply = Answer(instrument, command);
            if (instrument.Silent()) {
                afterSilence += reply;
            } else {
                EXPECT_EQ(reply.back(), '>');
                ++answered;
            }
        }
        EXPECT_TRUE(instrument.Silent());
        EXPECT_EQ(answered, c.answeredSteps);
        EXPECT_EQ(Count(afterSilence, ">"), 0u);
        EXPECT_EQ(Answer(instrument, "=====\r"), "");
    }
}

TEST(InstrumentTest, DelayComesBetweenEchoAndReply) {
    SimOptions options = FixedClock();
    options.delayMs = 700;
    Instrument instrument(options);
    auto parts = instrument.Receive("=====\r");
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].delayMs, 700);
    parts = instrument.Receive("PS0\r");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].delayMs, 0);
    EXPECT_EQ(parts[0].bytes, "PS0\r\n");
    EXPECT_EQ(parts[1].delayMs, 700);
    EXPECT_EQ(parts[1].bytes.back(), '>');
}

TEST(InstrumentTest, DataStreamEndsWithAPromptByItself) {
    SimOptions options = FixedClock();
    options.pc2Records = 5;
    options.pc2IntervalMs = 250;
    Instrument instrument(options);
    Answer(instrument, "=====\r");
    const std::string start = Bytes(instrument.Receive("PC2\r"));
    EXPECT_EQ(Count(start, ">"), 0u);
    ASSERT_TRUE(instrument.Streaming());
    for (int i = 0; i < 5; ++i) {
        const Emission part = instrument.NextStreamPart(i * 250);
        EXPECT_EQ(part.delayMs, 250);
        double heading = 0, pitch = 0, roll = 0;
        char orientation[8] = {};
        EXPECT_EQ(std::sscanf(part.bytes.c_str(), "%lf %lf %lf %7s", &heading, &pitch, &roll, orientation), 4);
        EXPECT_STREQ(orientation, "Down");
        EXPECT_TRUE(part.bytes.ends_with("\r\n")) << part.bytes;
    }
    const Emission last = instrument.NextStreamPart(5 * 250);
    EXPECT_EQ(last.bytes, ">");
    EXPECT_FALSE(instrument.Streaming());
}

TEST(InstrumentTest, FloodStreamsForItsDuration) {
    SimOptions options = FixedClock();
    options.floodSeconds = 2;
    Instrument instrument(options);
    Answer(instrument, "=====\r");
    instrument.Receive("PC2\r");
    const Emission first = instrument.NextStreamPart(0);
    EXPECT_EQ(first.delayMs, 0);
    EXPECT_GT(Count(first.bytes, "\r\n"), 1u);
    EXPECT_TRUE(instrument.Streaming());
    EXPECT_NE(instrument.NextStreamPart(1999).bytes, ">");
    EXPECT_EQ(instrument.NextStreamPart(2000).bytes, ">");
    EXPECT_FALSE(instrument.Streaming());
}

TEST(InstrumentTest, InputStopsTheDataStream) {
    SimOptions options = FixedClock();
    options.pc2Records = 1000;
    Instrument instrument(options);
    Answer(instrument, "=====\r");
    instrument.Receive("PC2\r");
    instrument.NextStreamPart(0);
    EXPECT_EQ(Bytes(instrument.Receive("x")), "");
    EXPECT_FALSE(instrument.Streaming());
    EXPECT_EQ(Bytes(instrument.Receive("\r")), "\r\n>") << "the key that stopped it is not a command";

    instrument.Receive("PC2\r");
    const std::string wake = Bytes(instrument.Receive("========\r"));
    EXPECT_FALSE(instrument.Streaming());
    EXPECT_EQ(Count(wake, ">"), 1u) << "a break during the stream gets one prompt, the banner's";
    EXPECT_NE(wake.find("[BREAK Wakeup A]"), std::string::npos);
}

TEST(InstrumentTest, HostClockHasTheInstrumentsFormat) {
    EXPECT_TRUE(HasShape(Instrument::HostClockText(), "99/99/99,99:99:99.99")) << Instrument::HostClockText();
    Instrument instrument(SimOptions{}, [] { return std::string("99/01/01,00:00:00.00"); });
    Answer(instrument, "=====\r");
    EXPECT_NE(Answer(instrument, "Ts?\r").find("TS = 99/01/01,00:00:00.00 --- "), std::string::npos);
}

}  // namespace
}  // namespace hydrix::sim
