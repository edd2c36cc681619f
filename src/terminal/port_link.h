// The terminal's com port as its emulator sees it: a sink for typed bytes and device
// reports. Bytes go from here into the port's output ring.
#pragma once

#include <string>

#include "comm/com_port.h"
#include "terminal/emulator_terminal.h"

namespace hydrix::terminal {

class PortLink : public TerminalPort {
public:
    explicit PortLink(comm::CustomComPort* port = nullptr) : port_(port) {}

    comm::CustomComPort* Port() const { return port_; }
    void SetPort(comm::CustomComPort* port) { port_ = port; }

    bool Open() const override;
    void SendChar(uint8_t ch) override;
    void SendString(const std::string& text) override;
    const EmulatorTerminal* LinkedTerminal() const override;

private:
    comm::CustomComPort* port_;
};

}  // namespace hydrix::terminal
