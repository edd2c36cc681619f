#include "comm/component_base.h"

namespace hydrix::comm {

std::string BaseComponent::Version() const {
    return kComponentVersion;
}

void BaseComponent::SetVersion(const std::string&) {}

std::string BaseWinControl::Version() const {
    return kComponentVersion;
}

void BaseWinControl::SetVersion(const std::string&) {}

}  // namespace hydrix::comm
