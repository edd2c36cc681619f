// Event objects for the worker threads: auto- or manual-reset, with waits on one
// or several events (the first signalled one wins, as on the original platform).
#pragma once

#include <cstdint>
#include <initializer_list>

namespace hydrix::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr int kWaitTimeout = -1;

class Event {
public:
    explicit Event(bool manualReset = false, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when signalled within timeoutMs (kInfinite: no limit); an auto-reset event
    // is reset by the wait that consumes it.
    bool Wait(uint32_t timeoutMs = kInfinite);

    // Index of the first signalled event, or kWaitTimeout.
    static int WaitAny(std::initializer_list<Event*> events, uint32_t timeoutMs = kInfinite);

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace hydrix::platform
