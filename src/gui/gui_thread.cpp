#include "gui/gui_thread.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace hydrix::gui {

namespace {

// The kernel's struct sched_attr in its first form; the C library of the build wraps
// neither call.
struct SchedAttr {
    uint32_t size;
    uint32_t policy;
    uint64_t flags;
    int32_t nice;
    uint32_t priority;
    uint64_t runtime;  // ns; for the normal policy the slice, from Linux 6.12
    uint64_t deadline;
    uint64_t period;
};

constexpr uint64_t kResetOnFork = 0x01;  // SCHED_FLAG_RESET_ON_FORK

bool ReadAttr(SchedAttr& attr) {
    attr = SchedAttr{};
    return ::syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) == 0;
}

}  // namespace

bool RequestShortSlices() {
    SchedAttr attr;
    // Only the normal policy: a thread someone made real-time keeps what it was given.
    if (!ReadAttr(attr) || attr.policy != SCHED_OTHER) {
        return false;
    }
    attr.size = sizeof attr;
    attr.runtime = kGuiSliceUs * 1000;
    // The threads this one starts (the port's, Qt's pools) are not the GUI.
    attr.flags |= kResetOnFork;
    if (::syscall(SYS_sched_setattr, 0, &attr, 0) != 0) {
        return false;
    }
    // A kernel that knows no slices for the normal policy ignores the runtime.
    return CurrentSliceUs() == kGuiSliceUs;
}

uint64_t CurrentSliceUs() {
    SchedAttr attr;
    return ReadAttr(attr) ? attr.runtime / 1000 : 0;
}

}  // namespace hydrix::gui
