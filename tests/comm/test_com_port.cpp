// The com port component over real pseudo-terminals reached through a temporary Wine
// prefix (dosdevices/comN -> pty slave). The test's thread is the GUI thread: the
// port's events arrive on it while the tests pump the message loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "capturing_ui.h"
#include "comm/com_port.h"
#include "comm/exceptions.h"
#include "comm/port_chooser.h"
#include "platform/dialogs.h"
#include "platform/fault_plan.h"
#include "platform/holder_process.h"
#include "platform/message_loop.h"
#include "pty_helper.h"

namespace hydrix::comm {
namespace {

constexpr uint16_t kCom = 7;
constexpr uint16_t kOtherCom = 8;
// No dosdevices link and no /dev/ttyS199 on any test machine.
constexpr uint16_t kMissingCom = 200;

bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs = 5000) {
    return platform::MessageLoop::Instance().ProcessUntil(done, timeoutMs);
}

using hydrix::test::CapturingUi;

class FixedChooser : public PortChooser {
public:
    explicit FixedChooser(std::optional<int> answer) : answer_(answer) {}
    std::optional<int> Choose() override {
        ++asked;
        return answer_;
    }
    int asked = 0;

private:
    std::optional<int> answer_;
};

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::MessageLoop::Instance().AttachToCurrentThread();
        prefix_.LinkCom(kCom, pty_.SlavePath());
        prefix_.LinkCom(kOtherCom, other_.SlavePath());
        ui_ = std::make_shared<CapturingUi>();
        previousUi_ = platform::SetUserInterface(ui_);
    }
    void TearDown() override {
        platform::SetUserInterface(previousUi_);
        SetPortChooser(nullptr);
    }

    // A port on kCom with the settings a test starts from.
    static void Configure(ComPort& port, uint16_t number = kCom) {
        port.SetComNumber(number);
        port.SetBaud(115200);
    }

    test::PtyPair pty_;
    test::PtyPair other_;
    test::TempWinePrefix prefix_;
    std::shared_ptr<CapturingUi> ui_;
    std::shared_ptr<platform::UserInterface> previousUi_;
};

template <typename E>
int32_t CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const E& e) {
        return e.ErrorCode();
    }
    return 0;
}

// The exception class E that opening the port raises (none when it opens).
template <typename E>
std::optional<E> OpenFailure(ComPort& port) {
    try {
        port.SetOpen(true);
    } catch (const E& e) {
        return e;
    }
    return std::nullopt;
}

TEST_F(ComPortTest, BaudWrittenWhileClosedReachesTheDeviceOnOpen) {
    ComPort port;
    port.SetComNumber(kCom);
    port.SetBaud(9600);
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(port.State(), PortState::StateClosed);
    port.SetOpen(true);
    ASSERT_EQ(port.State(), PortState::StateOpen);
    EXPECT_EQ(port.Dispatcher()->QueryLineSettings().Baud, 9600);
    port.SetBaud(57600);
    EXPECT_EQ(port.Dispatcher()->QueryLineSettings().Baud, 57600);
}

TEST_F(ComPortTest, OpenWrittenTwiceOpensOnceAndClosingAClosedPortDoesNothing) {
    ComPort port;
    Configure(port);
    int opened = 0;
    int closed = 0;
    port.SetOnPortOpen([&](CustomComPort&) { ++opened; });
    port.SetOnPortClose([&](CustomComPort&) { ++closed; });
    port.SetOpen(false);
    EXPECT_EQ(closed, 0);
    port.SetOpen(true);
    BaseDispatcher* first = port.Dispatcher();
    port.SetOpen(true);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(port.Dispatcher(), first);
    port.SetOpen(false);
    port.SetOpen(false);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
}

TEST_F(ComPortTest, SendStringOpensThePortOnlyWithAutoOpen) {
    ComPort port;
    Configure(port);
    port.SetAutoOpen(false);
    EXPECT_EQ(CodeOf<ECommNotOpen>([&] { port.SendString("abc"); }), -2007);
    EXPECT_FALSE(port.Open());
    port.SetAutoOpen(true);
    port.SendString("abc");
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(pty_.ReadMaster(3), "abc");
    port.SendChar('z');
    EXPECT_EQ(pty_.ReadMaster(1), "z");
}

TEST_F(ComPortTest, OperationsOnAClosedPortWithoutAutoOpen) {
    ComPort port;
    Configure(port);
    port.SetAutoOpen(false);
    EXPECT_NO_THROW(port.DeleteTrigger(8));
    EXPECT_EQ(port.LineError(), 0);
    EXPECT_FALSE(port.LineBreakSeen());
    EXPECT_EQ(CodeOf<ECommNotOpen>([&] { port.NewDataTrigger(">", false); }), -2007);
    EXPECT_EQ(CodeOf<ECommNotOpen>([&] { port.NewTimerTrigger(); }), -2007);
    EXPECT_FALSE(port.Open());
}

TEST_F(ComPortTest, TriggersAndUsersSurviveCloseAndReopen) {
    ComPort port;
    Configure(port);
    std::vector<PortCallbackKind> kinds;
    int user = 0;
    port.RegisterCallbackUser(&user, [&](CustomComPort&, PortCallbackKind kind) { kinds.push_back(kind); });
    const uint16_t prompt = port.NewDataTrigger(">", false);
    const uint16_t timer = port.NewTimerTrigger();
    EXPECT_NE(prompt, 0);
    port.SetOpen(false);
    EXPECT_TRUE(port.TriggersSaved());
    port.SetOpen(true);
    EXPECT_FALSE(port.TriggersSaved());

    std::vector<uint16_t> fired;
    port.SetOnTriggerData([&](CustomComPort&, uint16_t handle) { fired.push_back(handle); });
    ASSERT_TRUE(pty_.WriteMaster("ok>"));
    ASSERT_TRUE(PumpUntil([&] { return !fired.empty(); }));
    EXPECT_EQ(fired.front(), prompt);
    // A handle issued after the reopen never repeats a reinstated one.
    const uint16_t fresh = port.NewDataTrigger("#", false);
    EXPECT_NE(fresh, prompt);
    EXPECT_NE(fresh, timer);
    EXPECT_NO_THROW(port.DeleteTrigger(timer));
    EXPECT_THROW(port.DeleteTrigger(timer), EBadTriggerHandle);

    using K = PortCallbackKind;
    EXPECT_EQ(kinds, (std::vector<K>{K::PortOpened, K::PortClosing, K::PortClosed, K::PortOpened}));
    port.DeregisterCallbackUser(&user);
    port.SetOpen(false);
    EXPECT_EQ(kinds.size(), 4u);
}

TEST_F(ComPortTest, WindowUsersGetOpenClosingAndClosedInOrder) {
    std::vector<uint32_t> messages;
    auto& loop = platform::MessageLoop::Instance();
    const platform::WindowHandle window = loop.CreateWindow([&](uint32_t msg, platform::WParam, platform::LParam) {
        messages.push_back(msg);
        return platform::LResult{0};
    });
    {
        ComPort port;
        Configure(port);
        port.RegisterWindowUser(window);
        port.SetOpen(true);
        port.SetOpen(false);
        port.DeregisterWindowUser(window);
        port.SetOpen(true);
    }
    loop.DestroyWindow(window);
    EXPECT_EQ(messages, (std::vector<uint32_t>{0x7E08, 0x7E0A, 0x7E09}));
}

TEST_F(ComPortTest, PortNumberZeroAsksTheChooserWhenPrompting) {
    struct Case {
        bool prompt;
        std::optional<int> answer;
        int32_t expectedCode;
        int expectedAsks;
    };
    const Case cases[] = {
        {false, kCom, -2011, 0},
        {true, std::nullopt, -2011, 1},
        {true, kCom, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "prompt " << c.prompt << " answer " << c.answer.value_or(-1));
        auto chooser = std::make_shared<FixedChooser>(c.answer);
        SetPortChooser(chooser);
        ComPort port;
        port.SetPromptForPort(c.prompt);
        EXPECT_EQ(CodeOf<ENoPortSelected>([&] { port.SetOpen(true); }), c.expectedCode);
        EXPECT_EQ(chooser->asked, c.expectedAsks);
        EXPECT_EQ(port.Open(), c.expectedCode == 0);
        if (c.expectedCode == 0) {
            EXPECT_EQ(port.ComNumber(), kCom);
        }
    }
}

TEST_F(ComPortTest, DefaultChooserCancels) {
    ComPort port;
    EXPECT_EQ(CodeOf<ENoPortSelected>([&] { port.SetOpen(true); }), -2011);
    EXPECT_EQ(port.State(), PortState::StateClosed);
}

TEST_F(ComPortTest, AssigningTriggerEventsSwitchesTheHandlerFlags) {
    ComPort port;
    Configure(port);
    port.SetOpen(true);
    // Only the port's own window is attached: without events nothing needs service.
    port.SetOnTriggerData([](CustomComPort&, uint16_t) {});
    EXPECT_TRUE(port.Dispatcher()->HandlersNeedService());
    port.SetOnTriggerData(nullptr);
    EXPECT_FALSE(port.Dispatcher()->HandlersNeedService());
    port.SetOnTriggerLineError([](CustomComPort&, uint16_t, bool) {});
    EXPECT_TRUE(port.Dispatcher()->HandlersNeedService());
}

TEST_F(ComPortTest, TriggerDataEventRunsOnTheGuiThread) {
    ComPort port;
    Configure(port);
    const uint16_t handle = port.NewDataTrigger(">", false);
    std::vector<std::thread::id> threads;
    std::vector<uint32_t> generic;
    port.SetOnTrigger([&](CustomComPort&, uint32_t msg, uint16_t, uint16_t) { generic.push_back(msg); });
    port.SetOnTriggerData([&](CustomComPort& p, uint16_t h) {
        EXPECT_EQ(&p, &port);
        EXPECT_EQ(h, handle);
        threads.push_back(std::this_thread::get_id());
    });
    ASSERT_TRUE(pty_.WriteMaster("PS3 done\r\n>"));
    ASSERT_TRUE(PumpUntil([&] { return !threads.empty(); }));
    EXPECT_EQ(threads.front(), std::this_thread::get_id());
    EXPECT_NE(std::find(generic.begin(), generic.end(), 0x7E02u), generic.end());
}

TEST_F(ComPortTest, APulledDeviceIsReportedOnceAndTheHandlerMayCloseThePort) {
    ComPort port;
    Configure(port);
    port.SetOpen(true);
    int lost = 0;
    std::vector<uint32_t> generic;
    port.SetOnTrigger([&](CustomComPort&, uint32_t msg, uint16_t, uint16_t) { generic.push_back(msg); });
    port.SetOnDeviceLost([&](CustomComPort& p) {
        EXPECT_EQ(&p, &port);
        ++lost;
        p.SetOpen(false);
    });
    // A line that is merely quiet, or closed on purpose, is not lost.
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(lost, 0);
    pty_.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return lost > 0; }));
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(generic.empty());  // not a trigger

    test::PtyPair back;
    prefix_.LinkCom(kCom, back.SlavePath());
    port.SetOpen(true);
    port.SetOpen(false);
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(lost, 1);
}

TEST_F(ComPortTest, ClosingInsideTheTriggerHandlerFinishesLater) {
    ComPort port;
    Configure(port);
    port.NewDataTrigger(">", false);
    PortState stateInHandler = PortState::StateOpen;
    int calls = 0;
    port.SetOnTriggerData([&](CustomComPort& p, uint16_t) {
        ++calls;
        p.SetOpen(false);
        stateInHandler = p.State();
    });
    ASSERT_TRUE(pty_.WriteMaster(">"));
    ASSERT_TRUE(PumpUntil([&] { return port.State() == PortState::StateClosed; }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(stateInHandler, PortState::StateShuttingDown);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(port.PortWindow(), 0u);
    // The line is free again: another port takes it.
    ComPort next;
    Configure(next);
    EXPECT_NO_THROW(next.SetOpen(true));
}

TEST_F(ComPortTest, ReopenRequestedDuringADeferredCloseOpensAfterIt) {
    ComPort port;
    Configure(port);
    const uint16_t handle = port.NewDataTrigger(">", false);
    int calls = 0;
    bool pendingSeen = false;
    port.SetOnTriggerData([&](CustomComPort& p, uint16_t) {
        if (++calls > 1) {
            return;
        }
        p.SetOpen(false);
        p.SetOpen(true);
        pendingSeen = p.ReopenPending();
    });
    ASSERT_TRUE(pty_.WriteMaster(">"));
    ASSERT_TRUE(PumpUntil([&] { return calls == 1 && port.State() == PortState::StateOpen && !port.ReopenPending(); }));
    EXPECT_TRUE(pendingSeen);
    EXPECT_TRUE(port.Open());
    // The reopened port kept the trigger.
    ASSERT_TRUE(pty_.WriteMaster(">"));
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    EXPECT_NO_THROW(port.DeleteTrigger(handle));
}

TEST_F(ComPortTest, ExceptionFromAnEventHandlerGoesToTheExceptionReport) {
    ComPort port;
    Configure(port);
    port.NewDataTrigger(">", false);
    port.SetOnTriggerData([](CustomComPort&, uint16_t) { throw std::runtime_error("handler failed"); });
    ASSERT_TRUE(pty_.WriteMaster(">"));
    ASSERT_TRUE(PumpUntil([&] { return !ui_->Reports().empty(); }));
    EXPECT_EQ(ui_->Reports().front(), "handler failed");
    EXPECT_TRUE(port.Open());
    port.SendString("x");
    EXPECT_EQ(pty_.ReadMaster(1), "x");
}

TEST_F(ComPortTest, OpenFailuresRaiseTheirClassAndLeaveThePortClosed) {
    ComPort holder;
    Configure(holder);
    holder.SetOpen(true);
    struct Case {
        uint16_t number;
        int32_t code;
    };
    for (const Case c : {Case{kMissingCom, -2001}, Case{kCom, -2008}}) {
        SCOPED_TRACE(c.number);
        ComPort port;
        Configure(port, c.number);
        int32_t code = 0;
        try {
            port.SetOpen(true);
        } catch (const EOpenComm& e) {
            code = e.ErrorCode();
            const bool rightClass = c.code == -2001 ? dynamic_cast<const EBadId*>(&e) != nullptr
                                                    : dynamic_cast<const EAlreadyOpen*>(&e) != nullptr;
            EXPECT_TRUE(rightClass);
        }
        EXPECT_EQ(code, c.code);
        EXPECT_FALSE(port.Open());
        EXPECT_EQ(port.State(), PortState::StateClosed);
        EXPECT_EQ(port.Dispatcher(), nullptr);
        EXPECT_EQ(port.PortWindow(), 0u);
    }
}

TEST_F(ComPortTest, PortHeldByAnotherProgramIsAlreadyOpenAndNamesIt) {
    // A program that takes no lock (a terminal program, the host software under Wine).
    test::HolderProcess other(test::HolderProcess::OpenPath(pty_.SlavePath()));
    ComPort port;
    Configure(port);
    const std::optional<EAlreadyOpen> e = OpenFailure<EAlreadyOpen>(port);
    ASSERT_TRUE(e.has_value()) << "opened a port another program holds";
    EXPECT_EQ(e->ErrorCode(), -2008);
    EXPECT_EQ(e->Message().rfind("ie_Open - device already open", 0), 0u) << e->Message();
    EXPECT_NE(e->Message().find("PID " + std::to_string(other.Pid()) + " (sleep)"), std::string::npos) << e->Message();
    EXPECT_FALSE(port.Open());
}

TEST_F(ComPortTest, DeviceFileWithoutHardwareIsABadId) {
    // /dev/ttyS1 on a PC without a second UART: the open fails with EIO.
    test::ScopedFaultPlan plan;
    test::PlanFault(platform::sys::Op::Open, EIO, 1);
    ComPort port;
    Configure(port);
    const std::optional<EBadId> e = OpenFailure<EBadId>(port);
    ASSERT_TRUE(e.has_value()) << "opened a device without hardware";
    EXPECT_EQ(e->ErrorCode(), -2001);
    EXPECT_EQ(e->Message(), "ie_BadId - Specified comport doesn't exist");
}

TEST_F(ComPortTest, NoPermissionIsNotInUse) {
    // As the kernel refuses a user outside the dialout group; injected, so that it also
    // runs as root.
    test::ScopedFaultPlan plan;
    test::PlanFault(platform::sys::Op::Open, EACCES, 1);
    ComPort port;
    Configure(port);
    const std::optional<EInOutError> e = OpenFailure<EInOutError>(port);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->ErrorCode(), 13);
    EXPECT_NE(e->Message().find("dialout"), std::string::npos) << e->Message();
}

TEST_F(ComPortTest, NoPermissionNamesTheDeviceAndTheDialoutGroup) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root opens any device";
    }
    std::filesystem::permissions(pty_.SlavePath(), std::filesystem::perms::none);
    ComPort port;
    Configure(port);
    try {
        port.SetOpen(true);
        FAIL() << "opened without permission";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 13);
        EXPECT_NE(e.Message().find("COM7"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("dialout"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(port.Open());
}

TEST_F(ComPortTest, ChangingThePortNumberWhileOpenMovesTriggersToTheNewLine) {
    ComPort port;
    Configure(port);
    const uint16_t handle = port.NewDataTrigger(">", false);
    std::vector<uint16_t> fired;
    port.SetOnTriggerData([&](CustomComPort&, uint16_t h) { fired.push_back(h); });
    port.SetComNumber(kOtherCom);
    ASSERT_TRUE(port.Open());
    port.SendString("moved");
    EXPECT_EQ(other_.ReadMaster(5), "moved");
    ASSERT_TRUE(other_.WriteMaster(">"));
    ASSERT_TRUE(PumpUntil([&] { return !fired.empty(); }));
    EXPECT_EQ(fired.front(), handle);
    // The first line is free again.
    ComPort first;
    Configure(first);
    EXPECT_NO_THROW(first.SetOpen(true));
}

TEST_F(ComPortTest, FlowLimitsDefaultFromTheInputSize) {
    struct Case {
        HWFlowOptionSet hw;
        SWFlowKind sw;
        uint16_t full;
        uint16_t resume;
    };
    // InSize 4096: 90 % / 10 % (409.6 rounds to 410) for hardware, 75 % / 25 % for software.
    const Case cases[] = {
        {hwfRequireCTS, SWFlowKind::swfNone, 3686, 410},
        {0, SWFlowKind::swfBoth, 3072, 1024},
        {0, SWFlowKind::swfNone, 0, 0},
    };
    for (const Case& c : cases) {
        ComPort port;
        port.SetHWFlowOptions(c.hw);
        port.SetSWFlowOptions(c.sw);
        EXPECT_EQ(port.BufferFull(), c.full);
        EXPECT_EQ(port.BufferResume(), c.resume);
    }
    ComPort port;
    port.SetBufferFull(5000);
    EXPECT_EQ(port.BufferFull(), 3686);
    port.SetBufferResume(4000);
    EXPECT_EQ(port.BufferResume(), 369);
}

TEST_F(ComPortTest, RS485ModeDropsRtsFlowAndRts) {
    ComPort port;
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS | hwfUseDTR);
    port.SetRS485Mode(true);
    EXPECT_EQ(port.HWFlowOptions(), hwfUseDTR);
    EXPECT_FALSE(port.RTS());
    port.SetHWFlowOptions(hwfRequireCTS);
    EXPECT_FALSE(port.RS485Mode());
}

TEST_F(ComPortTest, TracingStatesWhileClosedAndTheTraceWrittenOnClose) {
    ComPort port;
    Configure(port);
    port.SetTracing(TraceLogState::tlDump);
    EXPECT_EQ(port.Tracing(), TraceLogState::tlOff);
    port.SetTracing(TraceLogState::tlPause);
    EXPECT_EQ(port.Tracing(), TraceLogState::tlOff);
    port.SetTraceSize(5000000);
    EXPECT_EQ(port.TraceSize(), 4000000u);

    const std::string traceFile = (prefix_.Path() / "port.trc").string();
    port.SetTraceName(traceFile);
    port.SetTracing(TraceLogState::tlOn);
    port.SetOpen(true);
    EXPECT_TRUE(port.Dispatcher()->Recorders().Tracing());
    port.SendString("AB");
    EXPECT_EQ(pty_.ReadMaster(2), "AB");
    port.SetTracing(TraceLogState::tlPause);
    EXPECT_EQ(port.Tracing(), TraceLogState::tlPause);
    port.SetOpen(false);
    EXPECT_EQ(port.Tracing(), TraceLogState::tlOff);
    std::ifstream in(traceFile);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Transmit"), std::string::npos) << text.str();
}

TEST_F(ComPortTest, OpenStoredWhileLoadingHappensAfterLoading) {
    ComPort port;
    Configure(port);
    port.SetLoading(true);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
    port.Loaded();
    EXPECT_EQ(port.State(), PortState::StateOpen);

    ComPort missing;
    Configure(missing, kMissingCom);
    missing.SetLoading(true);
    missing.SetOpen(true);
    missing.Loaded();
    EXPECT_FALSE(missing.Open());
    ASSERT_EQ(ui_->Reports().size(), 1u);
    EXPECT_EQ(ui_->Reports().front(), "ie_BadId - Specified comport doesn't exist");
}

TEST_F(ComPortTest, AssignCopiesSettingsUsersAndOpenTriggers) {
    ComPort source;
    Configure(source);
    source.SetBaud(38400);
    source.SetTraceName("x.trc");
    int user = 0;
    int notices = 0;
    source.RegisterCallbackUser(&user, [&](CustomComPort&, PortCallbackKind) { ++notices; });
    source.SetOpen(true);
    const uint16_t handle = source.NewDataTrigger(">", false);
    notices = 0;

    ComPort copy;
    copy.Assign(source);
    EXPECT_FALSE(copy.Open());
    EXPECT_EQ(copy.ComNumber(), kCom);
    EXPECT_EQ(copy.Baud(), 38400);
    EXPECT_EQ(copy.TraceName(), "x.trc");
    EXPECT_EQ(copy.UserCount(), 1u);
    EXPECT_TRUE(copy.TriggersSaved());
    source.SetOpen(false);
    notices = 0;
    copy.SetOpen(true);
    EXPECT_EQ(notices, 1);
    EXPECT_NO_THROW(copy.DeleteTrigger(handle));
}

}  // namespace
}  // namespace hydrix::comm
