// Line settings made through the com port and read back from the real driver: what a
// pseudo-terminal cannot hold (data bits, parity, stop bits, flow control, DTR and RTS
// levels, HUPCL), a modem-line change reaching the port, and a driver output queue that
// must drain before a line change.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "comm/triggers.h"
#include "platform/serial_device.h"
#include "platform/sys_call.h"
#include "real_line.h"

namespace hydrix::test {
namespace {

using comm::ParityKind;

// The data-bit counts the driver under test has (HYDRIX_REAL_DATA_BITS, "5678" for a UART;
// an FTDI adapter takes only 7 and 8).
std::vector<uint16_t> DataBitCounts() {
    std::vector<uint16_t> counts;
    for (char c : RealEnv("HYDRIX_REAL_DATA_BITS")) {
        counts.push_back(static_cast<uint16_t>(c - '0'));
    }
    return counts.empty() ? std::vector<uint16_t>{7, 8} : counts;
}

tcflag_t SizeFlag(uint16_t bits) {
    switch (bits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

TEST_F(RealLineTest, FramingReadsBackFromTheDriver) {
    comm::ComPort port;
    OpenPort(port);
    RawTty view(port_, RawTty::AsItIs{});
    ASSERT_TRUE(view.Ok());
    for (uint16_t bits : DataBitCounts()) {
        port.SetDataBits(bits);
        EXPECT_EQ(view.Termios().c_cflag & CSIZE, SizeFlag(bits)) << bits << " data bits";
    }
    port.SetDataBits(8);

    struct {
        ParityKind parity;
        tcflag_t flags;
    } const parities[] = {{ParityKind::pOdd, PARENB | PARODD},
                          {ParityKind::pEven, PARENB},
                          {ParityKind::pMark, PARENB | PARODD | CMSPAR},
                          {ParityKind::pSpace, PARENB | CMSPAR},
                          {ParityKind::pNone, 0}};
    for (const auto& p : parities) {
        port.SetParity(p.parity);
        EXPECT_EQ(view.Termios().c_cflag & (PARENB | PARODD | CMSPAR), p.flags)
            << "parity " << static_cast<int>(p.parity);
    }

    port.SetStopBits(2);
    EXPECT_EQ(view.Termios().c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    port.SetStopBits(1);
    EXPECT_EQ(view.Termios().c_cflag & CSTOPB, 0u);
}

TEST_F(RealLineTest, FlowControlReadsBackFromTheDriver) {
    comm::ComPort port;
    OpenPort(port);
    RawTty view(port_, RawTty::AsItIs{});
    port.SetHWFlowOptions(comm::hwfUseRTS | comm::hwfRequireCTS);
    EXPECT_EQ(view.Termios().c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
    port.SetHWFlowOptions(0);
    EXPECT_EQ(view.Termios().c_cflag & CRTSCTS, 0u);

    port.SetSWFlowOptions(comm::SWFlowKind::swfBoth);
    termios t = view.Termios();
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 17);
    EXPECT_EQ(t.c_cc[VSTOP], 19);
    port.SetSWFlowOptions(comm::SWFlowKind::swfNone);
    EXPECT_EQ(view.Termios().c_iflag & (IXON | IXOFF), 0u);
}

TEST_F(RealLineTest, DtrAndRtsTakeTheLevelsThePortSets) {
    comm::ComPort port;
    OpenPort(port);
    RawTty view(port_, RawTty::AsItIs{});
    EXPECT_EQ(view.ModemBits() & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS) << "both raised on open";
    port.SetDTR(false);
    EXPECT_EQ(view.ModemBits() & (TIOCM_DTR | TIOCM_RTS), TIOCM_RTS);
    port.SetRTS(false);
    EXPECT_EQ(view.ModemBits() & (TIOCM_DTR | TIOCM_RTS), 0);
    port.SetDTR(true);
    EXPECT_EQ(view.ModemBits() & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR);
    port.SetRTS(true);
    EXPECT_EQ(view.ModemBits() & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
}

TEST_F(RealLineTest, ModemLineChangeReachesThePort) {
    // In loopback a UART's outputs feed its own inputs: RTS drives CTS.
    constexpr int kLoop = 0x8000;  // TIOCM_LOOP
    comm::ComPort port;
    bool changed = false;
    port.SetOnTriggerModemStatus([&](comm::CustomComPort&) { changed = true; });
    OpenPort(port);
    RawTty view(port_, RawTty::AsItIs{});
    int loop = kLoop;
    ASSERT_EQ(::ioctl(view.Fd(), TIOCMBIS, &loop), 0);
    ASSERT_TRUE(PumpUntil([&] { return (view.ModemBits() & TIOCM_CTS) != 0; }));
    comm::TriggerSnapshot trigger;
    // Fires once CTS is no longer high.
    trigger.Statuses.push_back({8 | comm::kStatusModem, (platform::kModemCts << 8) | platform::kModemCts, true, false});
    port.Dispatcher()->ReinstateTriggers(trigger);
    port.SetRTS(false);
    EXPECT_TRUE(PumpUntil([&] { return changed; })) << "the CTS change never reached the port";
    ::ioctl(view.Fd(), TIOCMBIC, &loop);
}

TEST_F(RealLineTest, ClosingDropsDtrAndRtsWhateverWasLeftSet) {
    // A real tty keeps its settings from one opener to the next: the port must not depend
    // on what the last program left.
    RawTty before(port_, RawTty::AsItIs{});
    termios t = before.Termios();
    t.c_cflag &= ~HUPCL;
    ASSERT_EQ(::tcsetattr(before.Fd(), TCSANOW, &t), 0);
    comm::ComPort port;
    OpenPort(port);
    EXPECT_EQ(before.Termios().c_cflag & HUPCL, static_cast<tcflag_t>(HUPCL));
}

// At each write of the line settings: the most the driver still held to send.
struct QueueAtLineChange {
    static inline int viewFd = -1;
    static inline std::atomic<int> most{-1};
    static int Hook(platform::sys::Op op) {
        if (op == platform::sys::Op::TcSetAttr && viewFd >= 0) {
            int queued = 0;
            ::ioctl(viewFd, TIOCOUTQ, &queued);
            most = std::max(most.load(), queued);
        }
        return 0;
    }
};

TEST_F(RealLineTest, OutputDrainsBeforeALineChangeAtALowRate) {
    comm::ComPort port;
    OpenPort(port);
    port.SetBaud(1200);
    RawTty far(far_, B1200);
    RawTty view(port_, RawTty::AsItIs{});
    std::string block(3000, '\0');
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>('A' + i % 26);
    }
    port.SendString(block);
    ASSERT_TRUE(PumpUntil([&] { return view.OutQueue() > 0; })) << "the driver never held output";

    QueueAtLineChange::viewFd = view.Fd();
    QueueAtLineChange::most = -1;
    {
        platform::sys::ScopedFaultHook hook(QueueAtLineChange::Hook);
        port.SetBaud(9600);
    }
    EXPECT_EQ(QueueAtLineChange::most, 0) << "the line changed with output still in the driver";
    EXPECT_EQ(far.Read(block.size()), block);
}

}  // namespace
}  // namespace hydrix::test
