// Bases of the components that sit on the serial layer: the port, the data packets
// and the emulators derive from BaseComponent, the terminal control from BaseWinControl.
// The loading flag lets CheckError return codes while stored settings are applied.
#pragma once

#include <string>

namespace hydrix::comm {

constexpr const char* kComponentVersion = "v4.05";

// What every component shares: whether it is being loaded from its stored form.
class Component {
public:
    virtual ~Component() = default;

    bool Loading() const { return loading_; }
    void SetLoading(bool loading) { loading_ = loading; }

private:
    bool loading_ = false;
};

class BaseComponent : public Component {
public:
    std::string Version() const;
    // Read-only in effect: the version is that of the library.
    void SetVersion(const std::string& value);
};

class BaseWinControl : public Component {
public:
    std::string Version() const;
    void SetVersion(const std::string& value);
};

}  // namespace hydrix::comm
