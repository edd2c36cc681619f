// The station: the main window's logic without a toolkit. It owns the com port, the four
// report packets on it, the terminal that shows and captures what the instrument sends,
// and the two window timers; the prompt trigger on the port drives the test sequence.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/report_lines.h"
#include "app/run_verdict.h"
#include "app/station_view.h"
#include "app/window_timer.h"
#include "comm/com_port.h"
#include "packet/data_packet.h"
#include "terminal/terminal_control.h"

namespace hydrix::app {

constexpr const char* kFormCaption = "HYDRIX 1.01";
constexpr const char* kRunningCaption = "Hydrix 1.01 [Running Test] logging to ";
constexpr const char* kFinishedCaption = "HYDRIX 1.01 [Finished Test] Saved As ";
// The finish title when bytes are missing from the capture file.
constexpr const char* kIncompleteCaption = "HYDRIX 1.01 [Finished Test] Capture incomplete: ";
constexpr const char* kTidewiseRequiredText =
    "Error... Tidewise 10.04 or greater required!\rIf Tidewise 10.04 or greater is installed, remove ADCP "
    "device\rfrom communication settings then add device back.";
constexpr const char* kCommErrorText = "Communications Error.\rCheck Tidewise Communications Settings!";
constexpr const char* kNoOutputDirText = "Output directory does not exist.\rCheck your Tidewise configuration!";
constexpr const char* kSoftwareBreak = "=====\r";
constexpr const char* kCloseBreak = "========\r";
constexpr uint16_t kBreakTicks = 5;

// How the run ended (or that it has not).
enum class RunOutcome {
    Running,
    Finished,
    CommunicationsError,
    ConfigurationError,
    OutputDirectoryMissing,
    PortError,
    Cancelled,
    Error,
    // The sequence reached its end, but the station cannot vouch for a pass.
    Incomplete,
};

// The form's texts.
struct StationForm {
    std::string Caption = kFormCaption;
    std::string Label4, Label5, Label7, Label8, Label9, Label10;
    std::string lblPass = "0";
    std::string lblFail = "0";
    std::string lblSerial = "unknown";
    std::string lblDateTime = "unknown";
    std::string Button1 = "&Cancel";
};

struct StationOptions {
    // The Wine prefix holding the host software's settings; empty: the default one.
    std::filesystem::path prefix;
};

class Station {
public:
    explicit Station(StationView* view = nullptr, StationOptions options = {});
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Handlers -------------------------------------------------------------------------
    // Start-up. An exception leaves it where it arose (Outcome tells the kind).
    void FormCreate();
    void FormDestroy();
    // Cancel during the run, Close after it (also the Escape key).
    void Button1Click();
    void regtimerTimer();
    void CommTimerTimer();
    // The instrument's line went away (adapter pulled): reported as the watchdog would,
    // also in the steps the watchdog does not guard.
    void ComPort1DeviceLost(comm::CustomComPort& cp);
    void ComPort1TriggerData(comm::CustomComPort& cp, uint16_t triggerHandle);
    void DataPacketPassPacket(packet::DataPacket& sender, const void* data, int32_t size);
    void DataPacketFailPacket(packet::DataPacket& sender, const void* data, int32_t size);
    void DataPacket1StringPacket(packet::DataPacket& sender, const std::string& data);
    void DataPacketDateTimeStringPacket(packet::DataPacket& sender, const std::string& data);
    // A report packet ended without its end (any of the four).
    void DataPacketTimeout(packet::DataPacket& sender);
    // Headless runs: nobody is there to press Cancel when the instrument goes quiet where
    // the watchdog does not guard, so the run ends as a communications error.
    void DeadlinePassed(int seconds);

    // The wake-up: the software break text, or a 5-tick break without message pumping.
    void WakeInstrument();
    // Sends the command and restarts the watchdog with intervalMs.
    void SendCommand(const std::string& text, uint32_t intervalMs);
    // Lets the input the port already holds reach the packets, the terminal and the
    // trigger events: serves messages until the dispatcher has run a whole cycle (at most
    // a second), or until done says so.
    void DeliverWaitingInput(const std::function<bool()>& done = {});

    // State ----------------------------------------------------------------------------
    const StationForm& Form() const { return form_; }
    int Step() const { return step_; }
    int PassCount() const { return passCount_; }
    int FailCount() const { return failCount_; }
    // Every PASS and FAIL report counted, in order, with the line of text it came in.
    std::vector<ReportResult> Results() const { return reportLines_.Results(); }
    const std::string& UseSoftwareBreak() const { return useSoftwareBreak_; }
    const std::string& OutputDir() const { return outputDir_; }
    const std::string& DateStamp() const { return dateStamp_; }
    bool AwaitingClock() const { return awaitingClock_; }
    uint16_t PromptTriggerHandle() const { return promptTriggerHandle_; }
    RunOutcome Outcome() const { return outcome_; }
    bool Closed() const { return closed_; }
    // The capture file once it was created at step 3; empty before.
    const std::string& CaptureFileName() const { return captureFileName_; }
    // The capture file was not whole when it was closed (bytes missing, gone from the disk).
    bool CaptureIncomplete() const { return captureIncomplete_; }
    // Why the run cannot vouch for a pass; what keeps a finished run from passing.
    const RunVerdict& Verdict() const { return verdict_; }
    // The capture file name from the current captions: OutputDir, the trimmed serial
    // caption, ".", DateStamp, ".txt"; the instrument's texts made safe for a file name.
    std::string FormCaptureName() const;

    comm::ComPort& ComPort1() { return comPort1_; }
    terminal::Terminal& Terminal1() { return terminal1_; }
    packet::DataPacket& DataPacketPass() { return dataPacketPass_; }
    packet::DataPacket& DataPacketFail() { return dataPacketFail_; }
    packet::DataPacket& DataPacket1() { return dataPacket1_; }
    packet::DataPacket& DataPacketDateTime() { return dataPacketDateTime_; }
    WindowTimer& CommTimer() { return commTimer_; }
    WindowTimer& regtimer() { return regtimer_; }

private:
    void SetupComponents();
    void SetupPacket(packet::DataPacket& p, const std::string& start, packet::PacketEndConds end,
                     const std::string& endString, int32_t size, bool include, bool ignoreCase, int32_t timeOut);
    void PerformStep();
    void StartCapture();
    void Finish();
    // Turns the capture off and judges what it left on the disk.
    void StopCapture();
    // The station's verdict at the end of the sequence: finished, or incomplete and said so.
    void Conclude();
    // What Cancel leaves the instrument with: the closing break text twice, or a break.
    void LeaveInstrument();
    // The report a packet picks out, and how it came without its end, in the verdict's words.
    std::string ReportName(const packet::DataPacket& p) const;
    static std::string Framing(const packet::DataPacket& p);
    void SetText(FormItem item, std::string& field, const std::string& text);
    void Close();
    void EndRun(RunOutcome outcome);
    // An exception is leaving FormCreate.
    void StartupFailed(RunOutcome outcome);
    void CommunicationsFailed();
    void Focus(FocusTarget target);

    StationView* view_;
    StationOptions options_;
    StationForm form_;

    // Declared first so that it outlives the terminal and packets bound to it.
    comm::ComPort comPort1_;
    ReportLines reportLines_{comPort1_};
    packet::DataPacket dataPacketPass_{"DataPacketPass"};
    packet::DataPacket dataPacketFail_{"DataPacketFail"};
    packet::DataPacket dataPacket1_{"DataPacket1"};
    packet::DataPacket dataPacketDateTime_{"DataPacketDateTime"};
    terminal::Terminal terminal1_;
    WindowTimer commTimer_{2000};
    WindowTimer regtimer_{500};

    int step_ = 0;
    int passCount_ = 0;
    int failCount_ = 0;
    std::string useSoftwareBreak_;
    std::string outputDir_;
    std::string dateStamp_;
    bool awaitingClock_ = false;
    uint16_t promptTriggerHandle_ = 0;
    bool configured_ = false;
    // The port was opened by this run; the instrument is left as Cancel leaves it.
    bool portOpened_ = false;
    bool instrumentLeft_ = false;
    bool startupFailed_ = false;
    bool destroyed_ = false;
    bool closed_ = false;
    RunOutcome outcome_ = RunOutcome::Running;
    std::string captureFileName_;
    bool captureIncomplete_ = false;
    RunVerdict verdict_;
};

}  // namespace hydrix::app
