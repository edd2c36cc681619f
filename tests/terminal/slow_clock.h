// A clock for the receive pipe's slices on a machine as slow as can be: every look at it
// finds another slice's worth of time gone, so each slice hands on a single step.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "terminal/receive_pipe.h"

namespace hydrix::terminal::test {

class SlowClock final : public platform::Clock {
public:
    uint32_t NowMs() const override { return now_ += kReceiveSliceMs; }

private:
    mutable uint32_t now_ = 0;
};

}  // namespace hydrix::terminal::test
