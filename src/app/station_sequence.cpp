// The test sequence driven by the instrument's prompt, and the report handlers.
#include <string>

#include "app/host_settings.h"
#include "app/station.h"
#include "app/str_util.h"
#include "platform/dialogs.h"
#include "platform/file_system.h"
#include "terminal/terminal_capture.h"

namespace hydrix::app {

namespace {
// Ordinary serial numbers and clock texts are far shorter; the cut keeps the whole name
// within a file name's 255 bytes.
constexpr std::size_t kMaxNamePartBytes = 100;
}  // namespace

void Station::ComPort1TriggerData(comm::CustomComPort&, uint16_t) {
    try {
        PerformStep();
    } catch (const std::exception& e) {
        if (view_) {
            view_->StepFailed(e.what());
        }
        throw;
    } catch (...) {
        if (view_) {
            view_->StepFailed("unknown exception");
        }
        throw;
    }
}

void Station::PerformStep() {
    switch (step_) {
    case 0:
        SendCommand("CR1\r", 2000);
        break;
    case 1:
        SendCommand("Ts?\r", 2000);
        break;
    case 2:
        SendCommand("PS0\r", 5000);
        break;
    case 3:
        StartCapture();
        break;
    case 4:
        SendCommand("Ts?\r", 2000);
        break;
    case 5:
        SendCommand("PS0\r", 5000);
        break;
    case 6:
        SendCommand("PS3\r", 2000);
        break;
    case 7:
        SendCommand("PT200\r", 30000);
        break;
    case 8:
        SendCommand("PA\r", 60000);
        break;
    case 9:
        comPort1_.SendString("PC2\r");
        commTimer_.SetEnabled(false);
        break;
    case 10:
        WakeInstrument();
        commTimer_.SetEnabled(false);
        break;
    default:
        Finish();
        break;
    }
    SetText(FormItem::Label5, form_.Label5, std::to_string(step_));
    ++step_;
}

void Station::StartCapture() {
    commTimer_.SetEnabled(false);
    commTimer_.SetInterval(2000);
    Focus(FocusTarget::Terminal1);
    terminal1_.SetFontColor(0x000000);

    outputDir_ = HostSettings(options_.prefix).OutputDirectory(form_.Label9);
    if (!platform::DirectoryExists(outputDir_)) {
        EndRun(RunOutcome::OutputDirectoryMissing);
        platform::ShowMessageBox(kNoOutputDirText, "Information", platform::MessageIcon::Information);
        step_ = 22;
        Close();
        return;
    }
    terminal1_.SetCaptureFile(FormCaptureName());
    SetText(FormItem::Caption, form_.Caption, kRunningCaption + FormCaptureName());
    terminal1_.SetCapture(terminal::CaptureMode::cmOn);
    // The name may have been taken by an earlier record: the title names the file made.
    captureFileName_ = terminal1_.CaptureFile();
    if (captureFileName_ != FormCaptureName()) {
        SetText(FormItem::Caption, form_.Caption, kRunningCaption + captureFileName_);
    }
    terminal1_.SetActive(true);
    comPort1_.SendString("CR1\r");
    commTimer_.SetEnabled(true);
}

void Station::Finish() {
    if (terminal1_.Capture() != terminal::CaptureMode::cmOn) {
        return;
    }
    // Bytes received before the last prompt may still wait in the terminal's queue.
    terminal1_.ProcessAllReceived();
    StopCapture();
    // The file made at step 3, whatever the serial caption says by now.
    SetText(FormItem::Caption, form_.Caption,
            (captureIncomplete_ ? kIncompleteCaption : kFinishedCaption) + captureFileName_);
    Focus(FocusTarget::Button1);
    SetText(FormItem::Button1, form_.Button1, "&Close");
    if (outcome_ == RunOutcome::Running) {
        Conclude();
        if (view_) {
            view_->RunFinished();
        }
    }
}

void Station::StopCapture() {
    terminal1_.SetCapture(terminal::CaptureMode::cmOff);
    const terminal::CaptureRecord& record = terminal1_.Capturing().LastRecord();
    captureIncomplete_ = captureIncomplete_ || terminal1_.Capturing().Incomplete() || !record.Complete();
    verdict_.Capture(record);
}

void Station::Conclude() {
    for (const packet::DataPacket* p : {&dataPacketPass_, &dataPacketFail_, &dataPacket1_, &dataPacketDateTime_}) {
        if (p->State() == packet::PacketState::Collecting) {
            verdict_.ReportOpenAtEnd(ReportName(*p), Framing(*p));
        }
    }
    verdict_.Counted(passCount_, failCount_);
    if (verdict_.Reasons().empty()) {
        outcome_ = RunOutcome::Finished;
        return;
    }
    outcome_ = RunOutcome::Incomplete;
    platform::ShowMessageBox(verdict_.Text(), "Test incomplete", platform::MessageIcon::Error);
}

std::string Station::ReportName(const packet::DataPacket& p) const {
    if (&p == &dataPacket1_) {
        return "serial number report";
    }
    if (&p == &dataPacketDateTime_) {
        return "clock report";
    }
    return (&p == &dataPacketPass_ ? "PASS" : "FAIL") + std::string(" report");
}

std::string Station::Framing(const packet::DataPacket& p) {
    const std::string start = "\"" + Trim(p.StartString()) + "\"";
    if (p.EndString().empty()) {
        return start + " without the character after it";
    }
    return start + " without its \"" + Trim(p.EndString()) + "\"";
}

void Station::DataPacketTimeout(packet::DataPacket& sender) {
    verdict_.ReportCutOff(ReportName(sender), Framing(sender), sender.Overflowed(), sender.TimeOut());
}

std::string Station::FormCaptureName() const {
    // The parts are made valid UTF-8 too, so that the report names the file exactly.
    return outputDir_ + SafeFileNamePart(Trim(form_.lblSerial), kMaxNamePartBytes) + "." +
           SafeFileNamePart(dateStamp_, kMaxNamePartBytes) + ".txt";
}

void Station::DataPacketPassPacket(packet::DataPacket& sender, const void*, int32_t) {
    // The verdict covers what came while the run ran; a report after it is no part of it.
    if (outcome_ != RunOutcome::Running) {
        return;
    }
    reportLines_.Count("PASS", sender.PacketEnd());
    ++passCount_;
    SetText(FormItem::lblPass, form_.lblPass, std::to_string(passCount_));
}

void Station::DataPacketFailPacket(packet::DataPacket& sender, const void*, int32_t) {
    if (outcome_ != RunOutcome::Running) {
        return;
    }
    reportLines_.Count("FAIL", sender.PacketEnd());
    ++failCount_;
    SetText(FormItem::lblFail, form_.lblFail, std::to_string(failCount_));
}

void Station::DataPacket1StringPacket(packet::DataPacket&, const std::string& data) {
    SetText(FormItem::lblSerial, form_.lblSerial, data);
}

void Station::DataPacketDateTimeStringPacket(packet::DataPacket&, const std::string& data) {
    if (awaitingClock_) {
        const std::string text = Trim(data);
        SetText(FormItem::lblDateTime, form_.lblDateTime, text);
        std::string stamp = text.substr(0, 255);
        stamp = FilterChars(stamp, "/");
        stamp = FilterChars(stamp, ":");
        stamp = FilterChars(stamp, ",");
        dateStamp_ = stamp;
    }
    awaitingClock_ = false;
}

}  // namespace hydrix::app
