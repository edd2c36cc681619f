// The device layer under the dispatcher core on POSIX: the core's device operations
// over the platform's serial device, and the three worker threads that move bytes
// between the device and the rings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "comm/dispatcher.h"
#include "platform/serial_device.h"

namespace hydrix::comm {

class PosixDispatcher : public BaseDispatcher {
public:
    explicit PosixDispatcher(CustomComPort* owner, platform::Clock& clock = platform::SystemClock());
    ~PosixDispatcher() override;

    // The device's explanation (naming the device and, for a missing permission, the
    // dialout group) and who held the port when the open found it in use.
    OpenFailure LastOpenFailure() const override { return {device_.LastErrorText(), device_.LastHolder()}; }

    int EscapeLineFunction(int code) override;
    int PurgeDeviceQueue(int which) override;
    uint32_t ReadDeviceErrors(DeviceStatus& status) override;
    bool DeviceLost() override { return device_.HungUp(); }
    void NoteReadFailure(int code) override;
    int ReadDeviceState(platform::DeviceState& state) override;
    int DeviceRead(void* buffer, int count) override;
    int WriteDeviceState(const platform::DeviceState& state) override;
    int DeviceWrite(const void* buffer, int count) override;
    int WaitDeviceEvent(uint32_t& mask) override;
    bool SizeDeviceQueues(int inSize, int outSize) override;
    void StartThreads() override;
    void StopThreads() override;
    int DeviceOpen(const std::string& name, int inSize, int outSize) override;
    int DeviceClose() override;
    int ReadModemStatus() override;
    uint32_t PollDeviceEvents() override;

private:
    void StartDeviceWaits() override;
    void DrainOutput() override;
    // Ends the com and output threads (they never wait for the GUI thread).
    void StopIoThreads();
    void AdvanceOutTail(uint32_t count, uint32_t generation);

    platform::SerialDevice device_;
    uint32_t purgeGeneration_ = 0;  // output lock; a purge invalidates a block in flight
};

}  // namespace hydrix::comm
