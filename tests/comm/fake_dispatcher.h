// A dispatcher over an in-memory device and without worker threads: the test plays
// the dispatcher thread by calling RunDeviceCycle / RunTimerCycle itself, and the
// "device" holds the bytes the line would deliver.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "comm/dispatcher.h"
#include "platform/clock.h"

namespace hydrix::comm::test {

class FakeDispatcher : public BaseDispatcher {
public:
    explicit FakeDispatcher(platform::Clock& clock = platform::SystemClock()) : BaseDispatcher(nullptr, clock) {}
    ~FakeDispatcher() override { ShutdownDispatcher(); }

    int Open(int outSize = 4096, uint32_t options = kOpenDtrOn | kOpenRtsOn, int32_t baud = 19200) {
        return OpenDevice("COM1", baud, options, outSize, 4096, 1, 8, 0);
    }

    // Bytes arriving on the line; the next cycle reads them.
    void Receive(const std::string& bytes) { rx.insert(rx.end(), bytes.begin(), bytes.end()); }
    // Feeds bytes and runs one dispatcher cycle.
    void ReceiveAndCycle(const std::string& bytes) {
        Receive(bytes);
        RunDeviceCycle();
    }
    // What the output ring holds, taken out as the output thread would send it.
    std::string DrainOutputRing() {
        std::lock_guard guard(outputLock_);
        std::string out(outRing_.Count(), '\0');
        outRing_.Peek(0, reinterpret_cast<uint8_t*>(out.data()), outRing_.Count());
        outRing_.Clear();
        return out;
    }
    bool OutputRingFull() {
        std::lock_guard guard(outputLock_);
        return outRing_.Full();
    }

    int EscapeLineFunction(int code) override {
        escapes.push_back(code);
        return escapeResult;
    }
    int PurgeDeviceQueue(int which) override {
        if (which == 1) {
            rx.clear();
        }
        return 0;
    }
    uint32_t ReadDeviceErrors(DeviceStatus& status) override {
        status.Flags = lineErrors;
        lineErrors = 0;
        status.InQueue = static_cast<uint32_t>(std::min<size_t>(rx.size(), reportedInQueueLimit));
        // The driver sends a little of what it holds between two looks.
        status.DriverOutQueue = driverOutQueue;
        driverOutQueue -= std::min(driverOutQueue, driverSentPerLook);
        std::lock_guard guard(outputLock_);
        status.OutQueue = outRing_.Count();
        return status.Flags;
    }
    void NoteReadFailure(int) override {}
    int ReadDeviceState(platform::DeviceState& s) override {
        s = state;
        return 0;
    }
    int DeviceRead(void* buffer, int count) override {
        const auto n = std::min(static_cast<size_t>(count), rx.size());
        std::copy_n(rx.begin(), n, static_cast<uint8_t*>(buffer));
        rx.erase(rx.begin(), rx.begin() + static_cast<long>(n));
        return static_cast<int>(n);
    }
    int WriteDeviceState(const platform::DeviceState& s) override {
        ++stateWrites;
        driverQueueAtStateWrite = driverOutQueue;
        state = s;
        return 0;
    }
    int DeviceWrite(const void* buffer, int count) override {
        std::lock_guard guard(outputLock_);
        outRing_.Put(static_cast<const uint8_t*>(buffer), static_cast<uint32_t>(count));
        return count;
    }
    int WaitDeviceEvent(uint32_t& mask) override {
        mask = 0;
        return 0;
    }
    bool SizeDeviceQueues(int, int) override { return true; }
    void StartThreads() override {}
    void StopThreads() override {}
    void StartDeviceWaits() override {}
    void DrainOutput() override {}
    int DeviceOpen(const std::string&, int, int) override { return openResult; }
    int DeviceClose() override { return 0; }
    int ReadModemStatus() override { return modemSignals; }

    std::deque<uint8_t> rx;
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

}  // namespace hydrix::comm::test
