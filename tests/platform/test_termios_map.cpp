#include <gtest/gtest.h>

#include <cerrno>

#include "platform/termios_map.h"

namespace hydrix::platform {
namespace {

// A termios as a fresh tty has it: cooked, echoing, flow control on.
termios CookedTermios() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXANY | IMAXBEL | BRKINT;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
    t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS;
    t.c_cc[VMIN] = 4;
    t.c_cc[VTIME] = 5;
    t.c_cc[VSTART] = 17;
    t.c_cc[VSTOP] = 19;
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    return t;
}

TEST(TermiosMap, MakeRawClearsLineEditingAndTranslation) {
    termios t = CookedTermios();
    MakeRaw(t);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXANY | BRKINT | INPCK | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cflag & HUPCL, static_cast<tcflag_t>(HUPCL)) << "closing drops DTR and RTS, whatever was left set";
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400)) << "raw mode leaves the speed";
}

struct LineCase {
    const char* name;
    uint32_t baud;
    uint8_t byteSize, parity, stopBits;
    int kind;                  // StateToTermios result
    speed_t speed;             // when standard
    tcflag_t cflagBits;        // CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
    uint8_t stopBitsReadBack;  // what TermiosToState gives
};

class TermiosLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(TermiosLine, MapsAndReadsBack) {
    const LineCase& c = GetParam();
    DeviceState s;
    s.BaudRate = c.baud;
    s.ByteSize = c.byteSize;
    s.Parity = c.parity;
    s.StopBits = c.stopBits;
    termios t = CookedTermios();
    ASSERT_EQ(StateToTermios(s, t), c.kind);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.cflagBits);
    if (c.kind == kStandardBaud) {
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
    } else {
        EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400)) << "a custom rate is left to termios2";
    }

    DeviceState back;
    TermiosToState(t, back);
    if (c.kind == kStandardBaud) {
        EXPECT_EQ(back.BaudRate, c.baud);
    }
    EXPECT_EQ(back.ByteSize, c.byteSize);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.StopBits, c.stopBitsReadBack);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TermiosLine,
    ::testing::Values(LineCase{"b9600_8N1", 9600, 8, DeviceState::NoParity, DeviceState::OneStopBit, kStandardBaud,
                               B9600, CS8, DeviceState::OneStopBit},
                      LineCase{"b115200_7E1", 115200, 7, DeviceState::EvenParity, DeviceState::OneStopBit,
                               kStandardBaud, B115200, CS7 | PARENB, DeviceState::OneStopBit},
                      LineCase{"b1200_7O2", 1200, 7, DeviceState::OddParity, DeviceState::TwoStopBits, kStandardBaud,
                               B1200, CS7 | PARENB | PARODD | CSTOPB, DeviceState::TwoStopBits},
                      LineCase{"b19200_8M1", 19200, 8, DeviceState::MarkParity, DeviceState::OneStopBit, kStandardBaud,
                               B19200, CS8 | PARENB | PARODD | CMSPAR, DeviceState::OneStopBit},
                      LineCase{"b4800_8S1", 4800, 8, DeviceState::SpaceParity, DeviceState::OneStopBit, kStandardBaud,
                               B4800, CS8 | PARENB | CMSPAR, DeviceState::OneStopBit},
                      LineCase{"b110_5N1p5", 110, 5, DeviceState::NoParity, DeviceState::One5StopBits, kStandardBaud,
                               B110, CS5 | CSTOPB, DeviceState::One5StopBits},
                      LineCase{"b300_6N1p5_is_two", 300, 6, DeviceState::NoParity, DeviceState::One5StopBits,
                               kStandardBaud, B300, CS6 | CSTOPB, DeviceState::TwoStopBits},
                      LineCase{"b4000000", 4000000, 8, DeviceState::NoParity, DeviceState::OneStopBit, kStandardBaud,
                               B4000000, CS8, DeviceState::OneStopBit},
                      LineCase{"custom_250000", 250000, 8, DeviceState::NoParity, DeviceState::OneStopBit, kCustomBaud,
                               0, CS8, DeviceState::OneStopBit},
                      LineCase{"custom_14400_8E2", 14400, 8, DeviceState::EvenParity, DeviceState::TwoStopBits,
                               kCustomBaud, 0, CS8 | PARENB | CSTOPB, DeviceState::TwoStopBits}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TermiosMap, RejectsValuesNoLineHasAndLeavesStructAlone) {
    struct Bad {
        uint32_t baud;
        uint8_t byteSize, parity, stopBits;
    };
    for (const Bad& b :
         {Bad{0, 8, 0, 0}, Bad{9600, 4, 0, 0}, Bad{9600, 9, 0, 0}, Bad{9600, 8, 5, 0}, Bad{9600, 8, 0, 3}}) {
        DeviceState s;
        s.BaudRate = b.baud;
        s.ByteSize = b.byteSize;
        s.Parity = b.parity;
        s.StopBits = b.stopBits;
        termios t = CookedTermios();
        const termios before = t;
        EXPECT_EQ(StateToTermios(s, t), -EINVAL) << b.baud << " " << int(b.byteSize) << " " << int(b.parity);
        EXPECT_EQ(t.c_cflag, before.c_cflag);
        EXPECT_EQ(t.c_lflag, before.c_lflag);
    }
}

struct FlowCase {
    const char* name;
    bool outxCts, outxDsr;
    uint8_t dtrControl, rtsControl;
    bool outX, inX;
    bool crtscts, ixon, ixoff;
};

class TermiosFlow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(TermiosFlow, MapsFlowFlagsAndRoundTrips) {
    const FlowCase& c = GetParam();
    DeviceState s;
    s.OutxCtsFlow = c.outxCts;
    s.OutxDsrFlow = c.outxDsr;
    s.DtrControl = c.dtrControl;
    s.RtsControl = c.rtsControl;
    s.OutX = c.outX;
    s.InX = c.inX;
    s.XonChar = 0x11;
    s.XoffChar = 0x13;
    s.XonLim = 100;
    s.XoffLim = 200;
    termios t = CookedTermios();
    ASSERT_EQ(StateToTermios(s, t), kStandardBaud);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.crtscts);
    EXPECT_EQ((t.c_iflag & IXON) != 0, c.ixon);
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.ixoff);
    EXPECT_EQ(t.c_iflag & IXANY, 0u);

    // The state written reads back equal from the termios plus what termios cannot hold.
    DeviceState back = s;
    TermiosToState(t, back);
    EXPECT_EQ(back, s);
}

INSTANTIATE_TEST_SUITE_P(Cases, TermiosFlow,
                         ::testing::Values(FlowCase{"none", false, false, DeviceState::DtrEnable,
                                                    DeviceState::RtsEnable, false, false, false, false, false},
                                           FlowCase{"cts_out", true, false, DeviceState::DtrEnable,
                                                    DeviceState::RtsEnable, false, false, true, false, false},
                                           FlowCase{"rts_handshake", false, false, DeviceState::DtrEnable,
                                                    DeviceState::RtsHandshake, false, false, true, false, false},
                                           FlowCase{"full_hardware", true, false, DeviceState::DtrEnable,
                                                    DeviceState::RtsHandshake, false, false, true, false, false},
                                           FlowCase{"dtr_dsr_ignored", false, true, DeviceState::DtrHandshake,
                                                    DeviceState::RtsEnable, false, false, false, false, false},
                                           FlowCase{"rts_toggle_ignored", false, false, DeviceState::DtrDisable,
                                                    DeviceState::RtsToggle, false, false, false, false, false},
                                           FlowCase{"xon_out", false, false, DeviceState::DtrEnable,
                                                    DeviceState::RtsEnable, true, false, false, true, false},
                                           FlowCase{"xon_in", false, false, DeviceState::DtrEnable,
                                                    DeviceState::RtsEnable, false, true, false, false, true},
                                           FlowCase{"xon_both_and_cts", true, false, DeviceState::DtrEnable,
                                                    DeviceState::RtsEnable, true, true, true, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TermiosMap, FlowCharactersGoToStartAndStop) {
    DeviceState s;
    s.XonChar = 'Q';
    s.XoffChar = 'S';
    termios t = CookedTermios();
    ASSERT_EQ(StateToTermios(s, t), kStandardBaud);
    EXPECT_EQ(t.c_cc[VSTART], 'Q');
    EXPECT_EQ(t.c_cc[VSTOP], 'S');
}

TEST(TermiosMap, ReadBackOfForeignFlowSettings) {
    // CRTSCTS set by someone else shows as both CTS output flow and RTS handshake; cleared,
    // it takes RTS out of handshake.
    termios t = CookedTermios();
    MakeRaw(t);
    t.c_cflag |= CRTSCTS;
    DeviceState s;
    TermiosToState(t, s);
    EXPECT_TRUE(s.OutxCtsFlow);
    EXPECT_EQ(s.RtsControl, DeviceState::RtsHandshake);

    t.c_cflag &= ~CRTSCTS;
    TermiosToState(t, s);
    EXPECT_FALSE(s.OutxCtsFlow);
    EXPECT_EQ(s.RtsControl, DeviceState::RtsEnable);
}

TEST(TermiosMap, ParityCheckMapsToInpck) {
    DeviceState s;
    s.Parity = DeviceState::EvenParity;
    s.ParityCheck = true;
    termios t = CookedTermios();
    ASSERT_EQ(StateToTermios(s, t), kStandardBaud);
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    EXPECT_EQ(t.c_iflag & (PARMRK | IGNPAR), 0u);
    s.ParityCheck = false;
    ASSERT_EQ(StateToTermios(s, t), kStandardBaud);
    EXPECT_EQ(t.c_iflag & INPCK, 0u);
}

TEST(TermiosMap, BaudTableBothWays) {
    speed_t speed = 0;
    EXPECT_TRUE(BaudToSpeed(57600, speed));
    EXPECT_EQ(speed, static_cast<speed_t>(B57600));
    EXPECT_EQ(SpeedToBaud(B57600), 57600u);
    EXPECT_FALSE(BaudToSpeed(56000, speed));
    EXPECT_FALSE(BaudToSpeed(0, speed));
    EXPECT_EQ(SpeedToBaud(B0), 0u);
    EXPECT_EQ(SpeedToBaud(CBAUDEX), 0u) << "BOTHER is not a rate";

    // Read back with BOTHER in the speed bits, the rate stays for the caller to fill in.
    termios t{};
    t.c_cflag = CS8 | CBAUDEX;
    DeviceState s;
    s.BaudRate = 250000;
    TermiosToState(t, s);
    EXPECT_EQ(s.BaudRate, 250000u);
}

TEST(TermiosMap, RtsToggleIsTheKernelsRs485WithRtsOnSend) {
    // A board's own settings: RTS meant to stay high after sending, delays, termination.
    serial_rs485 board{};
    board.flags = SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX | SER_RS485_TERMINATE_BUS;
    board.delay_rts_before_send = 2;
    board.delay_rts_after_send = 3;

    const serial_rs485 on = Rs485Config(true, board);
    EXPECT_EQ(on.flags, SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RX_DURING_TX | SER_RS485_TERMINATE_BUS);
    EXPECT_EQ(on.delay_rts_before_send, 2u);
    EXPECT_EQ(on.delay_rts_after_send, 3u);

    const serial_rs485 off = Rs485Config(false, on);
    EXPECT_EQ(off.flags, on.flags & ~SER_RS485_ENABLED);
    EXPECT_EQ(off.delay_rts_before_send, 2u);
}

}  // namespace
}  // namespace hydrix::platform
