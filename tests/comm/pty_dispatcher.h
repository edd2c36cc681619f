// A dispatcher with its three threads over a real pseudo-terminal, reached through the
// COM mapping of a temporary Wine prefix; the test's main thread is the GUI thread that
// window notifications arrive on.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "comm/dispatcher.h"
#include "comm/posix_port_device.h"
#include "platform/message_loop.h"
#include "pty_helper.h"

namespace hydrix::test {

inline constexpr int kPtyCom = 7;

// size bytes of a stream that no read or write size lines up with.
inline std::string Pattern(size_t size, int seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) % 251);
    }
    return s;
}

// Serves the GUI thread's messages until done() holds; false when timeoutMs ran out first.
inline bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs = 10000) {
    return platform::MessageLoop::Instance().ProcessUntil(done, timeoutMs);
}

class PtyDispatcher : public ::testing::Test {
protected:
    void SetUp() override {
        platform::MessageLoop::Instance().AttachToCurrentThread();
        prefix_.LinkCom(kPtyCom, pty_.SlavePath());
    }

    std::unique_ptr<comm::BaseDispatcher> Open(
        int32_t baud = 115200, int outSize = 4096, platform::Clock& clock = platform::SystemClock(),
        std::unique_ptr<comm::PortDevice> device = std::make_unique<comm::PosixPortDevice>()) {
        auto d = std::make_unique<comm::BaseDispatcher>(nullptr, std::move(device), clock);
        const std::string name = "COM" + std::to_string(kPtyCom);
        d->SetDeviceName(name);
        const int result = d->OpenDevice(name, baud, comm::kOpenDtrOn | comm::kOpenRtsOn, outSize, 4096, 1, 8, 0);
        EXPECT_EQ(result, 0) << d->LastOpenFailure().text;
        return d;
    }

    PtyPair pty_;
    TempWinePrefix prefix_;
};

}  // namespace hydrix::test
