#include "comm/lock_order.h"

#ifdef HYDRIX_LOCK_CHECK

#include <cstdio>
#include <cstdlib>

namespace hydrix::comm {

namespace {

// The ordered locks the thread holds, in the order taken; a recursive take is one entry
// more. Deeper nesting than this is itself a fault of the order.
struct HeldLocks {
    struct Entry {
        const OrderedLock* lock;
        LockLevel level;
        const char* name;
    };
    static constexpr int kMax = 32;
    Entry entries[kMax];
    int count = 0;
};

thread_local HeldLocks held;

[[noreturn]] void Violation(const char* wanted, const char* holding) {
    std::fprintf(stderr, "lock order violated: %s taken while holding %s\n", wanted, holding);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

void OrderedLock::CheckTake() const {
    bool again = false;
    const char* above = nullptr;
    for (int i = 0; i < held.count; ++i) {
        const HeldLocks::Entry& entry = held.entries[i];
        if (entry.lock == this) {
            again = true;
        } else if (entry.level >= level_) {
            above = entry.name;
        }
    }
    // Taking a lock again is its recursion, whatever was taken since: that later take
    // was checked against this one.
    if (!again && above != nullptr) {
        Violation(name_, above);
    }
    if (held.count == HeldLocks::kMax) {
        Violation(name_, "too many locks");
    }
}

void OrderedLock::NoteTaken() const {
    held.entries[held.count++] = {this, level_, name_};
}

void OrderedLock::NoteReleased() const {
    for (int i = held.count - 1; i >= 0; --i) {
        if (held.entries[i].lock != this) {
            continue;
        }
        // Usually the last one: locks are mostly released in the reverse order.
        for (int j = i + 1; j < held.count; ++j) {
            held.entries[j - 1] = held.entries[j];
        }
        --held.count;
        return;
    }
}

}  // namespace hydrix::comm

#endif
