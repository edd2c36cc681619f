// The port's device on POSIX: the platform's serial device (termios, ioctl, poll).
#pragma once

#include <cstdint>
#include <string>

#include "comm/port_device.h"
#include "platform/serial_device.h"

namespace hydrix::comm {

class PosixPortDevice final : public PortDevice {
public:
    int Open(const std::string& name) override { return device_.Open(name); }
    int Close() override { return device_.Close() < 0 ? -1 : 0; }
    // The device's explanation (naming the device and, for a missing permission, the
    // dialout group) and who held the port when the open found it in use.
    OpenFailure LastOpenFailure() const override { return {device_.LastErrorText(), device_.LastHolder()}; }
    // The tty driver's queues have a fixed size.
    bool SizeQueues(int /*inSize*/, int /*outSize*/) override { return true; }

    int Read(void* buffer, int count) override { return device_.Read(buffer, static_cast<size_t>(count)); }
    int Write(const void* buffer, int count) override { return device_.Write(buffer, static_cast<size_t>(count)); }
    int WaitWritable(uint32_t timeoutMs) override { return device_.WaitWritable(timeoutMs); }
    void CancelWriteWait() override { device_.CancelWriteWait(); }
    int Purge(bool input, bool output) override { return device_.Purge(input, output); }

    void SetEventMask(uint32_t mask) override { device_.SetEventMask(mask); }
    int WaitEvent(uint32_t& events, uint32_t timeoutMs) override { return device_.WaitEvent(events, timeoutMs); }

    int GetState(platform::DeviceState& state) override { return device_.GetState(state) < 0 ? -1 : 0; }
    int SetState(const platform::DeviceState& state) override { return device_.SetState(state); }
    int Escape(int code) override;
    int ModemStatus() override { return device_.ModemStatus(); }
    uint32_t ModemChanges() override { return device_.ModemChanges(); }
    DriverStatus ReadStatus() override;
    uint32_t OutQueue() override;
    bool HungUp() const override { return device_.HungUp(); }

private:
    platform::SerialDevice device_;
};

}  // namespace hydrix::comm
