// Who answers when a port is opened without a port number: the program installs a
// chooser (the GUI's selection dialog); headless runs and tests keep the default one,
// which answers Cancel, so the open fails with "no port selected".
#pragma once

#include <memory>
#include <optional>

namespace hydrix::comm {

class PortChooser {
public:
    virtual ~PortChooser() = default;
    // The chosen port number, or nothing when the operator cancelled. May throw when
    // the choice cannot be read (an empty list confirmed with OK).
    virtual std::optional<int> Choose() = 0;
};

// Always cancels: nobody is there to choose.
class CancelPortChooser : public PortChooser {
public:
    std::optional<int> Choose() override { return std::nullopt; }
};

// The installed chooser; installing nullptr returns to the cancelling default. Returns
// the previous one. Callers keep the shared pointer for the call.
std::shared_ptr<PortChooser> SetPortChooser(std::shared_ptr<PortChooser> chooser);
std::shared_ptr<PortChooser> CurrentPortChooser();

}  // namespace hydrix::comm
