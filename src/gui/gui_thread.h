// The GUI thread's place on the processor. Under a flood the threads that bring the bytes
// (the port's com and dispatcher threads, the kernel's tty work) wake thousands of times a
// second, and a scheduler that runs the thread with the earliest deadline first (Linux
// 6.6 and later) would run each of them ahead of a GUI thread that has work queued, so
// its timers and paints would wait. A GUI thread that asks for short slices gets early
// deadlines: it runs soon after it becomes runnable, a little at a time, and its share of
// the processor stays what it was.
#pragma once

#include <cstdint>

namespace hydrix::gui {

// The slice asked for, in microseconds (the kernel's default is a few milliseconds).
constexpr uint64_t kGuiSliceUs = 500;

// Asks for slices of kGuiSliceUs for the calling thread; threads it starts afterwards keep
// the default. False, and nothing changed, where the kernel takes no such request.
bool RequestShortSlices();

// The slice the calling thread runs with, in microseconds; 0 where the kernel does not
// say.
uint64_t CurrentSliceUs();

}  // namespace hydrix::gui
