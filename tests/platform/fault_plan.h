// Planned system-call failures for serial tests: the next `times` calls of one kind fail
// with a chosen errno (through the serial device's fault hook), and every call is counted
// by kind. The hook is a plain function, so the plan is process-wide.
//
//   test::ScopedFaultPlan plan;            // installed until the end of the scope
//   test::PlanFault(Op::Open, EIO, 1);     // the next open fails with EIO
#pragma once

#include <atomic>

#include "platform/sys_call.h"

namespace hydrix::test {

struct FaultPlan {
    std::atomic<int> op{-1};
    std::atomic<int> err{0};
    std::atomic<int> remaining{0};
    std::atomic<int> calls[16]{};
};

inline FaultPlan& Plan() {
    static FaultPlan plan;
    return plan;
}

inline int PlanHook(platform::sys::Op op) {
    FaultPlan& plan = Plan();
    plan.calls[static_cast<int>(op)].fetch_add(1);
    if (static_cast<int>(op) == plan.op.load() && plan.remaining.fetch_sub(1) > 0) {
        return plan.err.load();
    }
    return 0;
}

inline void PlanFault(platform::sys::Op op, int err, int times) {
    FaultPlan& plan = Plan();
    plan.remaining = 0;
    plan.err = err;
    plan.op = static_cast<int>(op);
    plan.remaining = times;
}

inline int Calls(platform::sys::Op op) {
    return Plan().calls[static_cast<int>(op)].load();
}

inline void ResetCalls() {
    for (auto& c : Plan().calls) {
        c = 0;
    }
}

// Installs the plan's hook with nothing planned, for the lifetime of a test.
class ScopedFaultPlan {
public:
    ScopedFaultPlan() : hook_(PlanHook) {
        PlanFault(platform::sys::Op::Open, 0, 0);
        ResetCalls();
    }

private:
    platform::sys::ScopedFaultHook hook_;
};

}  // namespace hydrix::test
