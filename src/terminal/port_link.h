// The terminal's com port as its emulator sees it: a sink for typed bytes and device
// reports. Bytes go from here into the port's output ring.
#pragma once

#include <string>

#include "terminal/emulator_terminal.h"

namespace hydrix::comm {
class BaseWinControl;
class CustomComPort;
}  // namespace hydrix::comm

namespace hydrix::terminal {

class PortLink : public TerminalPort {
public:
    // owner is the terminal this link belongs to, as the port and as the emulator know it.
    PortLink(const comm::BaseWinControl* ownerControl, const EmulatorTerminal* ownerTerminal)
        : ownerControl_(ownerControl), ownerTerminal_(ownerTerminal) {}

    comm::CustomComPort* Port() const { return port_; }
    void SetPort(comm::CustomComPort* port) { port_ = port; }

    bool Open() const override;
    void SendChar(uint8_t ch) override;
    void SendString(const std::string& text) override;
    // The owner while the port names it as its linked terminal, else null (another
    // terminal's link speaks for that one).
    const EmulatorTerminal* LinkedTerminal() const override;

private:
    const comm::BaseWinControl* ownerControl_;
    const EmulatorTerminal* ownerTerminal_;
    comm::CustomComPort* port_ = nullptr;
};

}  // namespace hydrix::terminal
