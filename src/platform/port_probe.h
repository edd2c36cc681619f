// A look at a serial port that touches nothing: where its name leads, whether that is a
// serial device, whether this user may open it and whether another program holds it.
// The station's check (hydrix --check) reports it before a run ever opens the port.
#pragma once

#include <optional>
#include <string>

#include "platform/port_claim.h"

namespace hydrix::platform {

struct PortProbe {
    std::string name;    // as given ("COM5")
    std::string path;    // where it resolves to (the dosdevices link, or /dev/ttyS<n-1>)
    std::string device;  // the file the path leads to, links followed; empty when none
    bool exists = false;
    bool serial = false;  // a character device with terminal settings
    // Why it cannot be used, in words naming the device; empty when it can.
    std::string problem;
    // Another program holding it: a live lock file, or a process with it open.
    std::optional<PortHolder> holder;
    // The device's group and whether this user is in it (or is root).
    std::string group;
    bool userInGroup = false;
    std::string user;
};

// Looks at the port named (a COMn name or a device path). The device is opened for a
// moment without changing its settings, and not at all while another program holds it.
PortProbe ProbePort(const std::string& name);

// Why path is no serial device at all (a file, a folder, a link loop, a device without
// terminal settings: err ENOTTY), naming what it leads to; empty when it may well be one.
std::string NotASerialDevice(const std::string& path, int err);

}  // namespace hydrix::platform
