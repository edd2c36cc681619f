#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "comm/dispatch_log.h"
#include "comm/trace.h"
#include "platform/system_info.h"

namespace hydrix::comm {
namespace {

namespace fs = std::filesystem;

class RecorderFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "hydrix-trace-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            lines.push_back(text.substr(start, end - start));
        }
        if (start < text.size()) {
            lines.push_back(text.substr(start));
        }
        return lines;
    }

    fs::path dir_;
};

using TraceFile = RecorderFiles;
using LogFile = RecorderFiles;

void AddAll(Trace& trace, uint8_t kind, const std::string& bytes) {
    for (char c : bytes) {
        trace.Add(kind, static_cast<uint8_t>(c));
    }
}

TEST_F(TraceFile, CommandAndReplyWithAndWithoutHex) {
    const struct {
        bool hex;
        const char* expected;
    } cases[] = {
        {false, "Transmit: \r\nCR1[13]\r\n\r\nReceive: \r\nOK[13][10]"},
        {true, "Transmit: \r\nCR1[0D]\r\n\r\nReceive: \r\nOK[0D][0A]"},
    };
    for (const auto& c : cases) {
        Trace trace;
        ASSERT_EQ(trace.Start(10000), 0);
        AddAll(trace, kTraceTransmit, "CR1\r");
        AddAll(trace, kTraceReceive, "OK\r\n");
        ASSERT_EQ(trace.Write(Path("SERIAL.TRC"), false, false, c.hex), 0);
        EXPECT_EQ(Read(Path("SERIAL.TRC")), c.expected) << "hex " << c.hex;
        EXPECT_FALSE(trace.Present());
        EXPECT_FALSE(trace.On());
    }
}

TEST_F(TraceFile, FullBufferKeepsTheNewestEntries) {
    Trace trace;
    ASSERT_EQ(trace.Start(2), 0);
    trace.Add(kTraceTransmit, 'A');
    trace.Add(kTraceTransmit, 'B');
    trace.Add(kTraceReceive, 'C');
    EXPECT_EQ(trace.Count(), 2);
    ASSERT_EQ(trace.Write(Path("t"), false, false, true), 0);
    EXPECT_EQ(Read(Path("t")), "Transmit: \r\nB\r\n\r\nReceive: \r\nC");
}

TEST_F(TraceFile, EmptyTraceCreatesNoFileAndStops) {
    Trace trace;
    ASSERT_EQ(trace.Start(10), 0);
    EXPECT_EQ(trace.Write(Path("t"), false, false, true), 0);
    EXPECT_FALSE(fs::exists(Path("t")));
    EXPECT_FALSE(trace.Present());
    // Reset empties a used trace too.
    ASSERT_EQ(trace.Start(10), 0);
    trace.Add(kTraceTransmit, 'x');
    EXPECT_EQ(trace.Reset(), 0);
    EXPECT_EQ(trace.Write(Path("t"), false, false, true), 0);
    EXPECT_FALSE(fs::exists(Path("t")));
}

TEST(TraceItemTest, RendersBytes) {
    const struct {
        uint8_t byte;
        bool allHex, hex;
        const char* text;
    } cases[] = {
        {' ', false, true, "[20]"},   {' ', false, false, " "}, {'A', true, false, "[41]"},  {'~', false, true, "~"},
        {0x7F, false, true, "[7F]"},  {9, false, false, "[9]"}, {10, false, false, "[10]"},  {99, false, false, "c"},
        {200, false, false, "[200]"}, {0, false, false, "[0]"}, {0xFF, false, true, "[FF]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TraceItem(c.byte, c.allHex, c.hex), c.text) << int(c.byte) << c.allHex << c.hex;
    }
}

TEST_F(TraceFile, LinesWrapBeforeColumn79) {
    Trace trace;
    ASSERT_EQ(trace.Start(1000), 0);
    AddAll(trace, kTraceReceive, std::string(80, 'A'));
    AddAll(trace, kTraceTransmit, std::string(21, '\r'));
    AddAll(trace, kTraceReceive, std::string(5, '\x01'));
    ASSERT_EQ(trace.Write(Path("t"), false, false, false), 0);
    const auto lines = Lines(Read(Path("t")));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "Receive: ");
    EXPECT_EQ(lines[1], std::string(78, 'A'));
    EXPECT_EQ(lines[2], "AA");
    EXPECT_EQ(lines[4], "Transmit: ");
    // Width 4 each: 19 items make 76 columns, the 20th would make 80.
    std::string nineteen;
    for (int i = 0; i < 19; ++i) {
        nineteen += "[13]";
    }
    EXPECT_EQ(lines[5], nineteen);
    EXPECT_EQ(lines[6], "[13][13]");
    EXPECT_EQ(lines[8], "Receive: ");
    EXPECT_EQ(lines[9], "[1][1][1][1][1]");
}

TEST_F(TraceFile, SpecialKindsAndAllHex) {
    Trace trace;
    ASSERT_EQ(trace.Start(10), 0);
    trace.Add('X', 'a');
    trace.Add(kTraceTransmit, 'b');
    ASSERT_EQ(trace.Write(Path("t"), false, true, false), 0);
    EXPECT_EQ(Read(Path("t")), "Special-X: \r\n[61]\r\n\r\nTransmit: \r\n[62]");
}

TEST_F(TraceFile, AppendAddsToTheFileAndOverwriteReplacesIt) {
    for (bool append : {false, true}) {
        {
            std::ofstream old(Path("t"), std::ios::binary);
            old << "old";
        }
        Trace trace;
        ASSERT_EQ(trace.Start(10), 0);
        trace.Add(kTraceTransmit, 'z');
        ASSERT_EQ(trace.Write(Path("t"), append, false, true), 0);
        EXPECT_EQ(Read(Path("t")), append ? "oldTransmit: \r\nz" : "Transmit: \r\nz");
    }
    Trace trace;
    ASSERT_EQ(trace.Start(10), 0);
    trace.Add(kTraceTransmit, 'n');
    ASSERT_EQ(trace.Write(Path("new"), true, false, true), 0);
    EXPECT_EQ(Read(Path("new")), "Transmit: \r\nn");
}

TEST_F(TraceFile, FileErrorIsMinusErrnoAndStopsTheTrace) {
    Trace trace;
    ASSERT_EQ(trace.Start(10), 0);
    trace.Add(kTraceTransmit, 'z');
    EXPECT_EQ(trace.Write(Path("missing/t"), false, false, true), -ENOENT);
    EXPECT_FALSE(trace.Present());
}

TEST(TraceState, StartPauseResumeStop) {
    Trace trace;
    EXPECT_EQ(trace.Start(Trace::kMaxCapacity + 1), -1002);
    EXPECT_FALSE(trace.Present());
    EXPECT_EQ(trace.Start(-1), -1002);
    trace.Resume();
    EXPECT_FALSE(trace.On());

    ASSERT_EQ(trace.Start(4), 0);
    trace.Add(kTraceTransmit, 1);
    trace.Pause();
    EXPECT_FALSE(trace.On());
    EXPECT_TRUE(trace.Present());
    trace.Resume();
    EXPECT_TRUE(trace.On());
    // Starting again with a buffer only empties it and keeps its capacity.
    ASSERT_EQ(trace.Start(100), 0);
    EXPECT_EQ(trace.Count(), 0);
    EXPECT_EQ(trace.Capacity(), 4);
    trace.Stop();
    EXPECT_FALSE(trace.Present());
    trace.Add(kTraceTransmit, 1);
    EXPECT_EQ(trace.Count(), 0);

    ASSERT_EQ(trace.Start(0), 0);
    trace.Add(kTraceTransmit, 1);
    EXPECT_EQ(trace.Count(), 0);
}

// ---- dispatch log ----

const std::string kLogHeader =
    "SERIAL v4.05\r\n"
    "Compiler : Unknown\r\n"
    "Operating System : Linux 6.1.0\r\n"
    "Device: COM3\r\n"
    "Date/time: 05/03/24, 14:07:09\r\n"
    "Time      Type      SubType       Data      OtherData\r\n"
    "--------  --------  ------------  --------  ---------\r\n";

int WriteLog(DispatchLog& log, const std::string& path, bool allHex = false, bool hex = true, bool append = false) {
    return log.Write(path, append, allHex, hex, "COM3", "Linux 6.1.0", "05/03/24, 14:07:09");
}

bool Add(DispatchLog& log, LogKind kind, LogSubKind sub, uint32_t time, uint32_t word, const std::string& bytes = {}) {
    return log.Add(kind, sub, time, word, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// The log's rows without the header lines.
std::vector<std::string> Rows(const std::string& text) {
    auto lines = std::vector<std::string>();
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return std::vector<std::string>(lines.begin() + std::min<size_t>(7, lines.size()), lines.end());
}

TEST_F(LogFile, HeaderAndRows) {
    DispatchLog log;
    log.Start(10000, 8192);
    ASSERT_TRUE(Add(log, LogKind::Dispatch, LogSubKind::ReadCom, 1234, 3, "OK\r"));
    ASSERT_TRUE(Add(log, LogKind::Trigger, LogSubKind::Avail, 0, 3));
    ASSERT_TRUE(Add(log, LogKind::TrigAllc, LogSubKind::DataTrigger, 12345678, 8, ">"));
    ASSERT_TRUE(Add(log, LogKind::TrgHdAlc, LogSubKind::Method, 99, 0));
    ASSERT_EQ(WriteLog(log, Path("SERIAL.LOG")), 0);
    EXPECT_EQ(Read(Path("SERIAL.LOG")), kLogHeader +
                                            "0001.234  Dispatch  ReadCom       00000003  OK[0D]\r\n"
                                            "0000.000  Trigger   Avail         00000003  \r\n"
                                            "12345.678  TrigAllc  Data          00000008  >\r\n"
                                            "0000.099  TrgHdAlc  Method        00000000  \r\n");
    EXPECT_FALSE(log.Present());
}

TEST_F(LogFile, EmptyLogCreatesNoFile) {
    DispatchLog log;
    log.Start(1000, 16);
    EXPECT_EQ(WriteLog(log, Path("l")), 0);
    EXPECT_FALSE(fs::exists(Path("l")));
    EXPECT_FALSE(log.Present());
    DispatchLog never;
    EXPECT_EQ(WriteLog(never, Path("l")), 0);
    EXPECT_FALSE(fs::exists(Path("l")));
}

TEST_F(LogFile, ModemStatusBitNames) {
    DispatchLog log;
    log.Start(1000, 16);
    Add(log, LogKind::Dispatch, LogSubKind::ModemStatus, 5, 0xB3, "\xB3");
    Add(log, LogKind::Dispatch, LogSubKind::ModemStatus, 6, 0x4C, "\x4C");
    Add(log, LogKind::Dispatch, LogSubKind::ModemStatus, 7, 0x00, std::string(1, '\0'));
    ASSERT_EQ(WriteLog(log, Path("l")), 0);
    const auto rows = Rows(Read(Path("l")));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "0000.005  Dispatch  Modem status  000000B3  [B3] (DCTS DDSR CTS DSR DCD)");
    EXPECT_EQ(rows[1], "0000.006  Dispatch  Modem status  0000004C  L (TERI DDCD RI)");
    EXPECT_EQ(rows[2], "0000.007  Dispatch  Modem status  00000000  [00] ()");
}

TEST_F(LogFile, StatusTypeNamesOfStatusTriggers) {
    const char* names[] = {"(Not active)",         "(Modem status)",       "(Line status)",
                           "(Output buffer free)", "(Output buffer used)", "(Output sent)"};
    DispatchLog log;
    log.Start(1000, 16);
    for (uint8_t type = 0; type < 6; ++type) {
        Add(log, LogKind::TrigDisp, LogSubKind::StatusTrigger, type, 16 + type, std::string(1, char(type)));
    }
    Add(log, LogKind::TrigAllc, LogSubKind::StatusTrigger, 6, 0x30, std::string(1, '\x02'));
    // Subkind 15 under another kind is plain data.
    Add(log, LogKind::Trigger, LogSubKind::StatusTrigger, 7, 0x38, std::string(1, '\x02'));
    ASSERT_EQ(WriteLog(log, Path("l")), 0);
    const auto rows = Rows(Read(Path("l")));
    ASSERT_EQ(rows.size(), 8u);
    for (int type = 0; type < 6; ++type) {
        EXPECT_EQ(rows[type].substr(44), names[type]);
    }
    EXPECT_EQ(rows[0], "0000.000  TrigDisp  Status        00000010  (Not active)");
    EXPECT_EQ(rows[6], "0000.006  TrigAllc  Status        00000030  (Line status)");
    EXPECT_EQ(rows[7], "0000.007  Trigger   Status        00000038  [02]");
}

TEST_F(LogFile, LongDataWrapsUnderTheDataColumn) {
    DispatchLog log;
    log.Start(1000, 16);
    Add(log, LogKind::Dispatch, LogSubKind::WriteCom, 0, 40, std::string(40, 'A'));
    Add(log, LogKind::Dispatch, LogSubKind::WriteCom, 0, 9, std::string(9, '\r'));
    ASSERT_EQ(WriteLog(log, Path("l")), 0);
    const auto rows = Rows(Read(Path("l")));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], "0000.000  Dispatch  WriteCom      00000028  " + std::string(33, 'A'));
    EXPECT_EQ(rows[1], std::string(44, ' ') + std::string(7, 'A'));
    // 45 + 8 * 4 = 77, the ninth item would reach 81.
    std::string eight;
    for (int i = 0; i < 8; ++i) {
        eight += "[0D]";
    }
    EXPECT_EQ(rows[2], "0000.000  Dispatch  WriteCom      00000009  " + eight);
    EXPECT_EQ(rows[3], std::string(44, ' ') + "[0D]");
}

TEST_F(LogFile, AllHexLeavesUserTextReadable) {
    DispatchLog log;
    log.Start(1000, 16);
    Add(log, LogKind::User, LogSubKind::None, 0, 0, "Hi there");
    Add(log, LogKind::Packet, LogSubKind::StringPacket, 0, 0, "Packet:P1");
    ASSERT_EQ(WriteLog(log, Path("l"), true), 0);
    const auto rows = Rows(Read(Path("l")));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "0000.000  User                    00000000  Hi[20]there");
    EXPECT_EQ(rows[1], "0000.000  Packet    StringPacket  00000000  [50][61][63][6B][65][74][3A][50]");
    EXPECT_EQ(rows[2], std::string(44, ' ') + "[31]");
}

// Entries are 14 header bytes plus data; the ring keeps only whole entries.
TEST_F(LogFile, FullRingDropsOldestWholeEntries) {
    DispatchLog log;
    log.Start(100, 16);
    for (uint32_t n = 1; n <= 4; ++n) {
        ASSERT_TRUE(Add(log, LogKind::User, LogSubKind::None, n, n, std::string(10, char('a' + n))));
    }
    EXPECT_EQ(log.Used(), 96u);
    // 24 more bytes: one entry goes.
    ASSERT_TRUE(Add(log, LogKind::User, LogSubKind::None, 5, 5, std::string(10, 'f')));
    EXPECT_EQ(log.Count(), 4u);
    // 64 bytes: three more go, wrapping across the end of the ring.
    ASSERT_TRUE(Add(log, LogKind::User, LogSubKind::None, 6, 6, std::string(50, 'g')));
    EXPECT_EQ(log.Count(), 2u);
    EXPECT_EQ(log.Used(), 24u + 64u);
    ASSERT_EQ(WriteLog(log, Path("l")), 0);
    const auto rows = Rows(Read(Path("l")));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], "0000.005  User                    00000005  ffffffffff");
    EXPECT_EQ(rows[1], "0000.006  User                    00000006  " + std::string(33, 'g'));
    EXPECT_EQ(rows[2], std::string(44, ' ') + std::string(17, 'g'));
}

TEST_F(LogFile, OversizedEntryIsRefusedWholeAndTheLogStaysReadable) {
    DispatchLog log;
    log.Start(100, 16);
    ASSERT_TRUE(Add(log, LogKind::User, LogSubKind::None, 1, 1, "keep"));
    EXPECT_FALSE(Add(log, LogKind::Dispatch, LogSubKind::ReadCom, 2, 86, std::string(86, 'x')));
    EXPECT_FALSE(Add(log, LogKind::Dispatch, LogSubKind::ReadCom, 2, 5000, std::string(5000, 'x')));
    EXPECT_EQ(log.Count(), 1u);
    EXPECT_EQ(log.Used(), 18u);
    ASSERT_EQ(WriteLog(log, Path("l")), 0);
    EXPECT_EQ(Rows(Read(Path("l"))), std::vector<std::string>{"0000.001  User                    00000001  keep"});

    // One byte less fits, at the cost of everything else.
    log.Start(100, 16);
    ASSERT_TRUE(Add(log, LogKind::User, LogSubKind::None, 1, 1, "gone"));
    EXPECT_TRUE(Add(log, LogKind::User, LogSubKind::None, 2, 85, std::string(85, 'y')));
    EXPECT_EQ(log.Count(), 1u);
}

TEST_F(LogFile, EntryLargerThanTheScratchReadsBackIntact) {
    DispatchLog log;
    log.Start(100000, 16);
    std::string data;
    for (int i = 0; i < 5000; ++i) {
        data += char('!' + i % 90);
    }
    ASSERT_TRUE(Add(log, LogKind::Dispatch, LogSubKind::ReadCom, 0, 5000, data));
    ASSERT_TRUE(Add(log, LogKind::Dispatch, LogSubKind::ReadCom, 1, 1, "z"));
    ASSERT_EQ(WriteLog(log, Path("l"), false, false), 0);
    const auto rows = Rows(Read(Path("l")));
    ASSERT_FALSE(rows.empty());
    std::string back;
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        back += rows[i].substr(44);
    }
    EXPECT_EQ(back, data);
    EXPECT_EQ(rows.back(), "0000.001  Dispatch  ReadCom       00000001  z");
}

TEST_F(LogFile, FailedOpenKeepsTheLogWithLoggingOff) {
    DispatchLog log;
    log.Start(1000, 16);
    Add(log, LogKind::User, LogSubKind::None, 1, 1, "a");
    EXPECT_EQ(WriteLog(log, Path("missing/l")), -ENOENT);
    EXPECT_TRUE(log.Present());
    EXPECT_FALSE(log.On());
    EXPECT_EQ(log.Count(), 1u);
    ASSERT_EQ(WriteLog(log, Path("l")), 0);
    EXPECT_EQ(Rows(Read(Path("l"))).size(), 1u);
}

TEST_F(LogFile, AppendKeepsEarlierLogs) {
    for (int run = 0; run < 2; ++run) {
        DispatchLog log;
        log.Start(1000, 16);
        Add(log, LogKind::User, LogSubKind::None, run, 0, "r");
        ASSERT_EQ(WriteLog(log, Path("l"), false, true, true), 0);
    }
    const std::string text = Read(Path("l"));
    EXPECT_EQ(text.size(), 2 * (kLogHeader.size() + 47));
    EXPECT_EQ(text.rfind(kLogHeader, 0), 0u);
}

TEST(DispatchLogState, StartPauseResumeStop) {
    DispatchLog log;
    EXPECT_FALSE(Add(log, LogKind::User, LogSubKind::None, 0, 0));
    log.Resume();
    EXPECT_FALSE(log.On());
    log.Start(1000, 16);
    EXPECT_TRUE(log.On());
    EXPECT_TRUE(Add(log, LogKind::User, LogSubKind::None, 0, 0));
    log.Pause();
    EXPECT_FALSE(Add(log, LogKind::User, LogSubKind::None, 0, 0));
    // Start with a ring present empties it and leaves logging paused.
    log.Start(1000, 16);
    EXPECT_FALSE(log.On());
    EXPECT_EQ(log.Count(), 0u);
    log.Resume();
    EXPECT_TRUE(Add(log, LogKind::User, LogSubKind::None, 0, 0));
    log.Reset();
    EXPECT_EQ(log.Used(), 0u);
    log.Stop();
    EXPECT_FALSE(log.Present());
    EXPECT_FALSE(Add(log, LogKind::User, LogSubKind::None, 0, 0));
    // A ring too small for any entry refuses them all.
    log.Start(10, 16);
    EXPECT_FALSE(Add(log, LogKind::User, LogSubKind::None, 0, 0));
    log.Stop();
    log.Start(0, 0);
    EXPECT_FALSE(Add(log, LogKind::User, LogSubKind::None, 0, 0));
}

TEST(DispatchLogNames, KindsAndSubkinds) {
    // The ends of each range and the gaps between them.
    EXPECT_EQ(LogKindName(0), "No event");
    EXPECT_EQ(LogKindName(20), "Script");
    EXPECT_EQ(LogKindName(21), "");
    EXPECT_EQ(LogSubKindName(0), "");
    EXPECT_EQ(LogSubKindName(19), "Method");
    EXPECT_EQ(LogSubKindName(20), "");
    EXPECT_EQ(LogSubKindName(241), "");
    EXPECT_EQ(LogSubKindName(242), "Enable");
    EXPECT_EQ(LogSubKindName(251), "Collecting");
    EXPECT_EQ(LogSubKindName(252), "");
}

TEST(SystemInfo, DescriptionAndLocalTimeFormat) {
    EXPECT_EQ(platform::OperatingSystemDescription().rfind("Linux ", 0), 0u);
    EXPECT_GT(platform::OperatingSystemDescription().size(), 6u);
    const std::string pattern = "dd/dd/dd, dd:dd:dd";
    const std::string now = platform::LocalTimeText();
    ASSERT_EQ(now.size(), pattern.size()) << now;
    for (size_t i = 0; i < pattern.size(); ++i) {
        EXPECT_TRUE(pattern[i] == 'd' ? std::isdigit(static_cast<unsigned char>(now[i])) != 0 : now[i] == pattern[i])
            << now;
    }
}

}  // namespace
}  // namespace hydrix::comm
