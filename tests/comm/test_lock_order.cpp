// The lock-order check of the dispatcher's locks: a lock taken under one it must
// enclose ends the program, naming both.
#include <gtest/gtest.h>

#include <mutex>

#include "comm/lock_order.h"

namespace hydrix::comm {
namespace {

#ifdef HYDRIX_LOCK_CHECK

struct DispatcherLocks {
    OrderedLock input{LockLevel::kInput, "input lock"};
    OrderedLock dispatcher{LockLevel::kDispatcher, "dispatcher lock"};
    OrderedLock output{LockLevel::kOutput, "output lock"};
};

class LockOrderDeathTest : public ::testing::Test {
protected:
    // Other tests of this program leave threads behind: the child starts afresh.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    DispatcherLocks locks;
};

TEST_F(LockOrderDeathTest, TheInputLockTakenUnderTheDispatcherLockEndsTheProgram) {
    EXPECT_DEATH(
        {
            std::lock_guard outer(locks.dispatcher);
            std::lock_guard inner(locks.input);
        },
        "input lock taken while holding dispatcher lock");
}

TEST_F(LockOrderDeathTest, TheDispatcherAndOutputLocksAreNeverNested) {
    EXPECT_DEATH(
        {
            std::lock_guard outer(locks.output);
            std::lock_guard inner(locks.dispatcher);
        },
        "dispatcher lock taken while holding output lock");
}

TEST_F(LockOrderDeathTest, ARecursiveTakeIsNoViolationButWhatFollowsItIsChecked) {
    EXPECT_DEATH(
        {
            std::lock_guard input(locks.input);
            std::lock_guard dispatcher(locks.dispatcher);
            std::lock_guard again(locks.input);
            std::lock_guard output(locks.output);
        },
        "output lock taken while holding dispatcher lock");
}

TEST(LockOrder, ReleasesInAnyOrderLeaveNothingHeldBehind) {
    DispatcherLocks locks;
    {
        std::unique_lock input(locks.input);
        std::unique_lock dispatcher(locks.dispatcher);
        input.unlock();
        dispatcher.unlock();
    }
    // Neither is held any more: the dispatcher lock and then the output lock are two
    // takes in a row, not one inside the other.
    { std::lock_guard dispatcher(locks.dispatcher); }
    std::lock_guard output(locks.output);
    SUCCEED();
}

#else

TEST(LockOrder, CheckedOnlyInDebugAndSanitizerBuilds) {
    GTEST_SKIP() << "HYDRIX_LOCK_CHECK is off in this build";
}

#endif

}  // namespace
}  // namespace hydrix::comm
