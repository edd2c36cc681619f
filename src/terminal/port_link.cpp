#include "terminal/port_link.h"

#include "comm/com_port.h"

namespace hydrix::terminal {

bool PortLink::Open() const {
    return port_ != nullptr && port_->Open();
}

void PortLink::SendChar(uint8_t ch) {
    if (port_ != nullptr) {
        port_->SendChar(static_cast<char>(ch));
    }
}

void PortLink::SendString(const std::string& text) {
    if (port_ != nullptr) {
        port_->SendString(text);
    }
}

const EmulatorTerminal* PortLink::LinkedTerminal() const {
    return port_ != nullptr && port_->LinkedTerminal() == ownerControl_ ? ownerTerminal_ : nullptr;
}

}  // namespace hydrix::terminal
