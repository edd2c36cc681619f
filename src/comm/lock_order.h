// A recursive lock with its place in the program's lock order (see the dispatcher's
// locks in dispatcher.h). Where HYDRIX_LOCK_CHECK is set (debug and sanitizer builds)
// each thread keeps the locks it holds, and taking one out of order ends the program
// with both places named; elsewhere it is a plain recursive mutex.
#pragma once

#include <cstdint>
#include <mutex>

namespace hydrix::comm {

// Outermost first; a lock may be taken while holding only locks of a lower level (or
// itself again). Two locks of one level are never held together.
enum class LockLevel : uint8_t {
    kInput = 2,
    kDispatcher = 3,
    kOutput = 3,
};

class OrderedLock {
public:
    explicit OrderedLock(LockLevel level, const char* name) : level_(level), name_(name) {}
    OrderedLock(const OrderedLock&) = delete;
    OrderedLock& operator=(const OrderedLock&) = delete;

    void lock() {
#ifdef HYDRIX_LOCK_CHECK
        CheckTake();
#endif
        mutex_.lock();
#ifdef HYDRIX_LOCK_CHECK
        NoteTaken();
#endif
    }
    void unlock() {
#ifdef HYDRIX_LOCK_CHECK
        NoteReleased();
#endif
        mutex_.unlock();
    }

private:
#ifdef HYDRIX_LOCK_CHECK
    void CheckTake() const;
    void NoteTaken() const;
    void NoteReleased() const;
#endif

    std::recursive_mutex mutex_;
    const LockLevel level_;
    const char* const name_;
};

}  // namespace hydrix::comm
