// A device that passes every call on to another one; a test device derived from it
// overrides the calls it counts or records.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "comm/port_device.h"

namespace hydrix::test {

class ForwardingDevice : public comm::PortDevice {
public:
    explicit ForwardingDevice(std::unique_ptr<comm::PortDevice> inner) : inner_(std::move(inner)) {}

    int Open(const std::string& name) override { return inner_->Open(name); }
    int Close() override { return inner_->Close(); }
    comm::OpenFailure LastOpenFailure() const override { return inner_->LastOpenFailure(); }
    bool SizeQueues(int inSize, int outSize) override { return inner_->SizeQueues(inSize, outSize); }
    int Read(void* buffer, int count) override { return inner_->Read(buffer, count); }
    int Write(const void* buffer, int count) override { return inner_->Write(buffer, count); }
    int WaitWritable(uint32_t timeoutMs) override { return inner_->WaitWritable(timeoutMs); }
    void CancelWriteWait() override { inner_->CancelWriteWait(); }
    int Purge(bool input, bool output) override { return inner_->Purge(input, output); }
    void SetEventMask(uint32_t mask) override { inner_->SetEventMask(mask); }
    int WaitEvent(uint32_t& events, uint32_t timeoutMs) override { return inner_->WaitEvent(events, timeoutMs); }
    int GetState(platform::DeviceState& state) override { return inner_->GetState(state); }
    int SetState(const platform::DeviceState& state) override { return inner_->SetState(state); }
    int Escape(int code) override { return inner_->Escape(code); }
    int ModemStatus() override { return inner_->ModemStatus(); }
    uint32_t ModemChanges() override { return inner_->ModemChanges(); }
    comm::DriverStatus ReadStatus() override { return inner_->ReadStatus(); }
    uint32_t OutQueue() override { return inner_->OutQueue(); }
    bool HungUp() const override { return inner_->HungUp(); }

private:
    std::unique_ptr<comm::PortDevice> inner_;
};

}  // namespace hydrix::test
