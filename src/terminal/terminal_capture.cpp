#include "terminal/terminal_capture.h"

#include "platform/dialogs.h"

namespace hydrix::terminal {

void TerminalCapture::SetMode(CaptureMode mode) {
    if (mode == mode_ || (mode == CaptureMode::cmAppend && mode_ == CaptureMode::cmOn)) {
        return;
    }
    if (mode_ == CaptureMode::cmOn) {
        file_.Close();
    }
    mode_ = mode;
    if (mode == CaptureMode::cmOff) {
        return;
    }
    if (fileName_.empty()) {
        fileName_ = kDefaultCaptureFile;
    }
    incomplete_ = false;
    if (mode == CaptureMode::cmOn) {
        const int rc = file_.Create(fileName_);
        if (rc < 0) {
            throw EFCreateError("Cannot create file \"" + fileName_ + "\". " + platform::ErrorTextForErrno(rc));
        }
        return;
    }
    const int rc = file_.OpenForAppend(fileName_);
    if (rc < 0) {
        throw EFOpenError("Cannot open file \"" + fileName_ + "\". " + platform::ErrorTextForErrno(rc));
    }
    mode_ = CaptureMode::cmOn;
}

void TerminalCapture::SetFileName(const std::string& name) {
    if (name == fileName_) {
        return;
    }
    const bool wasOn = mode_ != CaptureMode::cmOff;
    if (wasOn) {
        SetMode(CaptureMode::cmOff);
    }
    fileName_ = name;
    if (wasOn) {
        SetMode(CaptureMode::cmOn);
    }
}

void TerminalCapture::Write(const void* data, std::size_t size) {
    if (mode_ != CaptureMode::cmOn || !file_.IsOpen() || size == 0) {
        return;
    }
    const long written = file_.Write(data, size);
    if (written == static_cast<long>(size)) {
        return;
    }
    // Reported once per file: a full disk would otherwise raise a report per chunk.
    if (!incomplete_) {
        incomplete_ = true;
        const std::string reason =
            written < 0 ? platform::ErrorTextForErrno(static_cast<int>(written))
                        : "Only " + std::to_string(written) + " of " + std::to_string(size) + " bytes were written.";
        platform::ShowExceptionReport("Cannot write to file \"" + fileName_ + "\". " + reason +
                                      " The capture file is incomplete.");
    }
}

}  // namespace hydrix::terminal
