#include "app/station.h"

#include "app/host_settings.h"
#include "app/station_settings.h"
#include "app/str_util.h"
#include "platform/dialogs.h"
#include "terminal/terminal_capture.h"

namespace hydrix::app {

namespace {
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kDrainMs = 2000;
constexpr uint32_t kDrainPauseMs = 100;
// A whole dispatcher cycle takes at most its 50 ms wait and the delivery; this bounds the
// look at waiting input when the watchdog fires.
constexpr uint32_t kServeInputMs = 1000;
}  // namespace

Station::Station(StationView* view, StationOptions options) : view_(view), options_(std::move(options)) {
    SetupComponents();
}

Station::~Station() {
    FormDestroy();
}

void Station::SetupPacket(packet::DataPacket& p, const std::string& start, packet::PacketEndConds end,
                          const std::string& endString, int32_t size, bool include, bool ignoreCase, int32_t timeOut) {
    p.SetStartString(start);
    p.SetEndCond(end);
    p.SetEndString(endString);
    p.SetPacketSize(size);
    p.SetIncludeStrings(include);
    p.SetIgnoreCase(ignoreCase);
    p.SetTimeOut(timeOut);
    p.SetComPort(&comPort1_);
    p.SetEnabled(true);
}

void Station::SetupComponents() {
    comPort1_.SetComNumber(1);
    comPort1_.SetBaud(115200);
    comPort1_.SetTraceName("SERIAL.TRC");
    comPort1_.SetLogName("SERIAL.LOG");
    comPort1_.SetTapiMode(comm::TapiModeKind::tmOff);
    comPort1_.SetOnTriggerData([this](comm::CustomComPort& cp, uint16_t handle) { ComPort1TriggerData(cp, handle); });
    comPort1_.SetOnDeviceLost([this](comm::CustomComPort& cp) { ComPort1DeviceLost(cp); });

    using EC = packet::PacketEndCond;
    // The packets claim data in the order they join the port's manager.
    dataPacketPass_.OnPacket = [this](packet::DataPacket& s, const void* d, int32_t n) {
        DataPacketPassPacket(s, d, n);
    };
    SetupPacket(dataPacketPass_, "PASS", {EC::ecPacketSize}, "", 4, true, true, 218400);
    dataPacketFail_.OnPacket = [this](packet::DataPacket& s, const void* d, int32_t n) {
        DataPacketFailPacket(s, d, n);
    };
    SetupPacket(dataPacketFail_, "FAIL", {EC::ecPacketSize}, "", 4, true, true, 21840);
    dataPacket1_.OnStringPacket = [this](packet::DataPacket& s, const std::string& d) {
        DataPacket1StringPacket(s, d);
    };
    SetupPacket(dataPacket1_, "Instrument S/N:  ", {EC::ecString}, "       Frequency:", 0, false, true, 2184);
    dataPacketDateTime_.OnStringPacket = [this](packet::DataPacket& s, const std::string& d) {
        DataPacketDateTimeStringPacket(s, d);
    };
    SetupPacket(dataPacketDateTime_, "TS = ", {EC::ecString}, "-", 0, false, false, 21840);
    for (packet::DataPacket* p : {&dataPacketPass_, &dataPacketFail_, &dataPacket1_, &dataPacketDateTime_}) {
        p->OnTimeout = [this](packet::DataPacket& s) { DataPacketTimeout(s); };
    }

    terminal1_.SetActive(false);
    terminal1_.SetCaptureFile(terminal::kDefaultCaptureFile);
    // The capture is the record of a test: it never replaces an earlier one.
    terminal1_.Capturing().SetNoReplace(true);
    terminal1_.SetComPort(&comPort1_);
    terminal1_.SetScrollbackRows(1000);
    terminal1_.SetRows(45);
    terminal1_.SetScrollback(true);
    terminal1_.SetColor(kWhite);
    terminal::TerminalFont font;
    font.Name = "Terminal";
    font.Height = -12;
    font.Color = kBlack;
    terminal1_.SetFont(font);
    terminal1_.Loaded();

    commTimer_.OnTimer = [this] { CommTimerTimer(); };
    regtimer_.OnTimer = [this] { regtimerTimer(); };
}

void Station::FormCreate() {
    try {
        const StationSettings settings = ReadStationSettings(options_.prefix);
        if (settings.HostSoftwareMissing()) {
            outcome_ = RunOutcome::ConfigurationError;
            // The operator is also told which file was looked at and what was wrong there.
            platform::ShowMessageBox(std::string(kTidewiseRequiredText) + "\r" + settings.ProblemText(), "Error",
                                     platform::MessageIcon::Error);
            regtimer_.SetEnabled(true);
            return;
        }
        configured_ = true;
        if (settings.TextsRead()) {
            useSoftwareBreak_ = settings.useSoftwareBreak;
            SetText(FormItem::Label4, form_.Label4, settings.port);
            SetText(FormItem::Label10, form_.Label10, settings.baud);
            SetText(FormItem::Label7, form_.Label7, useSoftwareBreak_);
            SetText(FormItem::Label8, form_.Label8, settings.filenamePrefix);
            SetText(FormItem::Label9, form_.Label9, settings.outputDirectory);
        }
        // Stored as soon as it is known good, as when the baud rate alone is wrong.
        if (settings.TextsRead() && settings.comNumber) {
            comPort1_.SetComNumber(*settings.comNumber);
        }
        settings.RaiseProblems();
        comPort1_.SetBaud(*settings.baudRate);

        terminal1_.SetComPort(&comPort1_);
        terminal1_.SetActive(true);
        awaitingClock_ = true;
        terminal1_.ClearAll();
        promptTriggerHandle_ = comPort1_.NewDataTrigger(">", false);
        portOpened_ = true;

        passCount_ = 0;
        SetText(FormItem::lblPass, form_.lblPass, "0");
        failCount_ = 0;
        SetText(FormItem::lblFail, form_.lblFail, "0");
        step_ = 0;

        terminal1_.SetActive(false);
        SetText(FormItem::lblSerial, form_.lblSerial, "unknown");
        WakeInstrument();
        commTimer_.SetEnabled(true);
    } catch (const EConvertError&) {
        StartupFailed(RunOutcome::ConfigurationError);
        throw;
    } catch (const ERegistryException&) {
        StartupFailed(RunOutcome::ConfigurationError);
        throw;
    } catch (const comm::EOpenComm&) {
        StartupFailed(RunOutcome::PortError);
        throw;
    } catch (const comm::EInOutError&) {
        StartupFailed(RunOutcome::PortError);
        throw;
    } catch (...) {
        StartupFailed(RunOutcome::Error);
        throw;
    }
}

void Station::StartupFailed(RunOutcome outcome) {
    EndRun(outcome);
    startupFailed_ = true;
    // The terminal was made active before the port opened; left so, its queued attach
    // would open the port again (and fail again) after the operator was told.
    terminal1_.SetActive(false);
}

void Station::FormDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    commTimer_.SetEnabled(false);
    regtimer_.SetEnabled(false);
    terminal1_.SetActive(false);
    comPort1_.SetOnTriggerData(nullptr);
    comPort1_.SetOnDeviceLost(nullptr);
    // However the run ended, the instrument is left as Cancel leaves it. A line that has
    // gone away cannot take the text; that was reported when it went.
    if (portOpened_ && !instrumentLeft_ && comPort1_.Open()) {
        try {
            LeaveInstrument();
        } catch (const std::exception&) {
        }
    }
    // Closing purges the output: let the closing break text (or a last command) reach
    // the line first, for at most two seconds. The pause after the drain covers the
    // device's own buffer (a pseudo-terminal's purge drops what its far end has not read).
    // Both waits serve messages: the window keeps answering and the threads that send to
    // it are not held up.
    if (comPort1_.Dispatcher() != nullptr && comPort1_.Open()) {
        auto& loop = platform::MessageLoop::Instance();
        // Read afresh each time: a message served meanwhile may have closed the port.
        loop.ProcessUntil(
            [this] {
                comm::BaseDispatcher* d = comPort1_.Dispatcher();
                return d == nullptr || !comPort1_.Open() || d->OutputPending() <= 0;
            },
            kDrainMs);
        loop.ProcessUntil([] { return false; }, kDrainPauseMs);
    }
    comPort1_.SetOpen(false);
}

void Station::Button1Click() {
    if (startupFailed_) {
        // Start-up never got the port going: trying it again would only fail again and
        // keep the window from closing.
        commTimer_.SetEnabled(false);
        regtimer_.SetEnabled(false);
        EndRun(RunOutcome::Cancelled);
        Close();
        return;
    }
    comPort1_.DeleteTrigger(promptTriggerHandle_);
    commTimer_.SetEnabled(false);
    regtimer_.SetEnabled(false);
    terminal1_.SetActive(false);
    if (terminal1_.Capture() != terminal::CaptureMode::cmOff) {
        StopCapture();
    }
    LeaveInstrument();
    EndRun(RunOutcome::Cancelled);
    Close();
}

void Station::LeaveInstrument() {
    instrumentLeft_ = true;
    // Without the host software's settings the port was never configured: nothing is
    // sent to whatever device the default number names.
    if (!configured_) {
        return;
    }
    if (useSoftwareBreak_ != "0") {
        comPort1_.SendString(kCloseBreak);
        comPort1_.SendString(kCloseBreak);
    } else {
        comPort1_.TransmitBreak(kBreakTicks, false);
    }
}

void Station::regtimerTimer() {
    Close();
}

void Station::CommTimerTimer() {
    // The watchdog may have been held up itself (the process was stopped): the input that
    // waits is served first, and a prompt in it moves the sequence on.
    commTimer_.SetEnabled(false);
    const int step = step_;
    const auto moved = [this, step] { return step_ != step || closed_ || outcome_ != RunOutcome::Running; };
    DeliverWaitingInput(moved);
    if (moved()) {
        return;
    }
    CommunicationsFailed();
}

void Station::DeliverWaitingInput(const std::function<bool()>& done) {
    comm::BaseDispatcher* d = comPort1_.Dispatcher();
    if (d == nullptr || !comPort1_.Open() || d->DispThreadObject() == nullptr) {
        return;
    }
    const uint64_t target = d->CyclesDone() + 2;
    // Trigger events and the terminal's data run in here, as messages served.
    platform::MessageLoop::Instance().ProcessUntil(
        [this, d, target, &done] {
            return (done && done()) || comPort1_.Dispatcher() != d || !comPort1_.Open() || d->CyclesDone() >= target;
        },
        kServeInputMs);
}

void Station::DeadlinePassed(int seconds) {
    if (outcome_ != RunOutcome::Running || closed_) {
        return;
    }
    commTimer_.SetEnabled(false);
    EndRun(RunOutcome::CommunicationsError);
    platform::ShowMessageBox(
        std::string(kCommErrorText) + "\rThe test did not end within " + std::to_string(seconds) + " s.", "Error",
        platform::MessageIcon::Error);
    step_ = 22;
    Close();
}

void Station::ComPort1DeviceLost(comm::CustomComPort&) {
    if (outcome_ != RunOutcome::Running || closed_) {
        return;
    }
    CommunicationsFailed();
}

void Station::CommunicationsFailed() {
    // Stopped first, so that an open message box does not collect further expiries.
    commTimer_.SetEnabled(false);
    EndRun(RunOutcome::CommunicationsError);
    platform::ShowMessageBox(kCommErrorText, "Error", platform::MessageIcon::Error);
    step_ = 22;
    Close();
}

void Station::WakeInstrument() {
    if (useSoftwareBreak_ != "0") {
        comPort1_.SendString(kSoftwareBreak);
    } else {
        comPort1_.TransmitBreak(kBreakTicks, false);
    }
}

void Station::SendCommand(const std::string& text, uint32_t intervalMs) {
    comPort1_.SendString(text);
    commTimer_.SetEnabled(false);
    commTimer_.SetInterval(intervalMs);
    commTimer_.SetEnabled(true);
}

void Station::SetText(FormItem item, std::string& field, const std::string& text) {
    field = text;
    if (view_) {
        view_->FormChanged(item);
    }
}

void Station::Focus(FocusTarget target) {
    if (view_) {
        view_->SetFocus(target);
    }
}

void Station::EndRun(RunOutcome outcome) {
    if (outcome_ == RunOutcome::Running) {
        outcome_ = outcome;
    }
}

void Station::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    if (view_) {
        view_->CloseWindow();
    }
}

}  // namespace hydrix::app
