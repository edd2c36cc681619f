// Trigger records and notification handlers: what the dispatcher thread examines
// after each fill of the input ring, and who hears about a firing (the port's
// window, the packet manager and the terminal's method handlers).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "comm/trigger_matcher.h"
#include "platform/clock.h"
#include "platform/message_loop.h"

namespace hydrix::comm {

// Notification messages; the same numbers go to window, procedure and method handlers.
constexpr uint32_t kTriggerAvailMsg = 0x7E01;   // bytes available: handle = count offered
constexpr uint32_t kTriggerDataMsg = 0x7E02;    // data trigger: data = match length
constexpr uint32_t kTriggerTimerMsg = 0x7E03;   // timer trigger expired
constexpr uint32_t kTriggerStatusMsg = 0x7E04;  // status trigger: type in handle's low 3 bits
// Posted once to the window handlers when the device goes away under an open port.
constexpr uint32_t kDeviceLostMsg = 0x7E05;

// The availability trigger's handle.
constexpr int kAvailTriggerHandle = 1;

// Status trigger types (low three bits of a status handle).
constexpr int kStatusModem = 1;
constexpr int kStatusLine = 2;
constexpr int kStatusOutBuffFree = 3;
constexpr int kStatusOutBuffUsed = 4;
constexpr int kStatusOutSent = 5;

// Window timeout of a notification sent to a window handler.
constexpr uint32_t kWindowNotifyTimeoutMs = 3000;

struct TimerTrigger {
    int32_t Handle = 0;
    platform::EventTimer Timer;
    int32_t Ticks = 0;  // interval last given
    int32_t Reserved = -1;
    int32_t Active = 0;  // armed

    bool operator==(const TimerTrigger& o) const {
        return Handle == o.Handle && Timer.StartTicks == o.Timer.StartTicks &&
               Timer.ExpireTicks == o.Timer.ExpireTicks && Ticks == o.Ticks && Reserved == o.Reserved &&
               Active == o.Active;
    }
};

struct StatusTrigger {
    int32_t Handle = 0;  // issued value + type
    uint16_t Value = 0;  // condition
    bool Armed = false;
    bool Fired = false;  // fired in this pass

    bool operator==(const StatusTrigger&) const = default;
};

// Copies of every trigger record, kept by the port across a close and reopen.
struct TriggerSnapshot {
    int32_t AvailThreshold = 0;
    std::vector<TimerTrigger> Timers;
    std::vector<DataTrigger> Datas;
    std::vector<StatusTrigger> Statuses;
};

// Handlers get (message, trigger handle or count, data + registry index * 65536).
using TriggerProc = void (*)(uint32_t msg, uint32_t triggerHandle, int32_t data);
using TriggerMethod = std::function<void(uint32_t msg, uint32_t triggerHandle, int32_t data)>;

// Builds a notification's second parameter and takes it apart again.
constexpr int32_t NotifyParam(uint32_t data, int registryIndex) {
    return static_cast<int32_t>((data & 0xFFFFu) | (static_cast<uint32_t>(registryIndex) << 16));
}
constexpr int RegistryIndexOf(platform::LParam param) {
    return static_cast<int>((static_cast<uint32_t>(param) >> 16) & 0xFFFFu);
}
constexpr uint32_t NotifyDataOf(platform::LParam param) {
    return static_cast<uint32_t>(param) & 0xFFFFu;
}

}  // namespace hydrix::comm
