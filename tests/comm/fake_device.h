// An in-memory device under a dispatcher without worker threads: the test plays the
// dispatcher thread by calling RunDeviceCycle / RunTimerCycle itself, the "device"
// holds the bytes the line would deliver and keeps what was written to it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "comm/dispatcher.h"
#include "comm/port_device.h"
#include "platform/clock.h"

namespace hydrix::comm::test {

class FakeDevice final : public PortDevice {
public:
    int Open(const std::string&) override { return openResult; }
    int Close() override { return 0; }
    OpenFailure LastOpenFailure() const override { return {}; }
    bool SizeQueues(int, int) override { return true; }

    int Read(void* buffer, int count) override {
        const auto n = std::min(static_cast<size_t>(count), rx.size());
        std::copy_n(rx.begin(), n, static_cast<uint8_t*>(buffer));
        rx.erase(rx.begin(), rx.begin() + static_cast<long>(n));
        return static_cast<int>(n);
    }
    int Write(const void* buffer, int count) override {
        tx.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
        return count;
    }
    int WaitWritable(uint32_t) override { return 1; }
    void CancelWriteWait() override {}
    int Purge(bool input, bool) override {
        if (input) {
            rx.clear();
        }
        return 0;
    }

    void SetEventMask(uint32_t) override {}
    int WaitEvent(uint32_t& events, uint32_t) override {
        events = 0;
        return 0;
    }

    int GetState(platform::DeviceState& s) override {
        s = state;
        return 0;
    }
    int SetState(const platform::DeviceState& s) override {
        ++stateWrites;
        driverQueueAtStateWrite = driverOutQueue;
        state = s;
        return 0;
    }
    int Escape(int code) override {
        escapes.push_back(code);
        return escapeResult;
    }
    int ModemStatus() override { return modemSignals; }
    uint32_t ModemChanges() override { return 0; }
    DriverStatus ReadStatus() override {
        DriverStatus status;
        status.Errors = lineErrors;
        lineErrors = 0;
        status.InQueue = static_cast<uint32_t>(std::min<size_t>(rx.size(), reportedInQueueLimit));
        return status;
    }
    uint32_t OutQueue() override {
        // The driver sends a little of what it holds between two looks.
        const uint32_t held = driverOutQueue;
        driverOutQueue -= std::min(driverOutQueue, driverSentPerLook);
        return held;
    }
    bool HungUp() const override { return false; }

    std::deque<uint8_t> rx;
    std::string tx;
    // A tty may hand a read more than its queue count said a moment before: the
    // count reported stops here while reads still take everything held.
    size_t reportedInQueueLimit = SIZE_MAX;
    platform::DeviceState state;
    int stateWrites = 0;
    // Bytes the driver holds for sending beyond the output ring.
    uint32_t driverOutQueue = 0;
    uint32_t driverSentPerLook = 0;
    uint32_t driverQueueAtStateWrite = 0;
    uint32_t lineErrors = 0;
    int modemSignals = 0;
    int openResult = 0;
    int escapeResult = 0;
    std::vector<int> escapes;
};

// A dispatcher over a FakeDevice, driven by the test: `d->` reaches the dispatcher,
// `d.dev` the device it owns.
class FakeDispatcher {
public:
    explicit FakeDispatcher(platform::Clock& clock = platform::SystemClock())
        : FakeDispatcher(std::make_unique<FakeDevice>(), clock) {}

    BaseDispatcher* operator->() { return &dispatcher_; }
    BaseDispatcher& operator*() { return dispatcher_; }

    int Open(int outSize = 4096, uint32_t options = kOpenDtrOn | kOpenRtsOn, int32_t baud = 19200) {
        return dispatcher_.OpenDevice("COM1", baud, options, outSize, 4096, 1, 8, 0);
    }
    // Bytes arriving on the line; the next cycle reads them.
    void Receive(const std::string& bytes) { dev.rx.insert(dev.rx.end(), bytes.begin(), bytes.end()); }
    // Feeds bytes and runs one dispatcher cycle.
    void ReceiveAndCycle(const std::string& bytes) {
        Receive(bytes);
        dispatcher_.RunDeviceCycle();
    }
    // What the output ring holds, written out as the output thread writes it.
    std::string DrainOutputRing() {
        dispatcher_.DrainOutput();
        return std::exchange(dev.tx, {});
    }

    FakeDevice& dev;  // owned by the dispatcher

private:
    FakeDispatcher(std::unique_ptr<FakeDevice> device, platform::Clock& clock)
        : dev(*device), dispatcher_(nullptr, std::move(device), clock, WorkerMode::kCallerDriven) {}

    BaseDispatcher dispatcher_;
};

}  // namespace hydrix::comm::test
