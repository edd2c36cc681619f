// Choosing a port when none is configured: which of COM1..COM50 can be opened (or exist
// but are in use), and the selection dialog's behaviour without its toolkit. The GUI's
// dialog shows this model; the port asks for a number through its PortChooser.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hydrix::comm {

constexpr int kHighestListedPort = 50;

// Process-wide settings of the availability test; both true from program start.
void SetTestPortsThroughDispatcher(bool value);
bool TestPortsThroughDispatcher();
void SetShowPortsInUse(bool value);
bool ShowPortsInUse();

// True when COMn can be opened, or exists but is held by another opener (while in-use
// ports count). Port 0 is never available.
bool IsPortAvailable(int number);

enum class ModalResult { mrNone = 0, mrOk = 1, mrCancel = 3 };

// The dialog "Select Port": a drop-down list of the available ports, OK and Cancel.
class ComSelectModel {
public:
    using AvailabilityTest = std::function<bool(int number)>;

    static constexpr const char* kCaption = "Select Port";
    static constexpr const char* kLabel1 = "The configured serial port is not valid.";
    static constexpr const char* kLabel2 = "Please choose another port.";

    explicit ComSelectModel(AvailabilityTest available = IsPortAvailable);

    // Fills the list with "COM%d" for every available port, ascending, and selects the first.
    void FormCreate();

    const std::vector<std::string>& Entries() const { return entries_; }
    // -1 when nothing is selected.
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);
    std::string SelectedText() const;
    // The selected entry's text from its fourth character on, as a number; an empty
    // selection raises "'' is not a valid integer value".
    int SelectedNumber() const;

    void Ok() { modalResult_ = ModalResult::mrOk; }
    void Cancel() { modalResult_ = ModalResult::mrCancel; }
    ModalResult Result() const { return modalResult_; }
    // What the port takes from the closed dialog: the number after OK, nothing otherwise.
    std::optional<int> Choice() const;

private:
    AvailabilityTest available_;
    std::vector<std::string> entries_;
    int itemIndex_ = -1;
    ModalResult modalResult_ = ModalResult::mrNone;
};

}  // namespace hydrix::comm
