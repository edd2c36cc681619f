// The GUI thread's message loop and its message windows: the way worker threads hand
// notifications to the GUI thread (post, send, send with time-out, run-and-wait) and the
// way components get their window timers. One queue and one timer list, two drivers:
// the standalone one (Run) and the Qt one in src/gui that calls ProcessMessages.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/event.h"  // kInfinite

namespace hydrix::platform {

using WindowHandle = uint32_t;  // nonzero, never reused during a run
using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;
using WindowProc = std::function<LResult(uint32_t msg, WParam w, LParam l)>;

constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_TIMER = 0x0113;  // wParam = timer id
constexpr uint32_t WM_USER = 0x0400;

// Wakes the thread that drives the loop; called from any thread whenever a message is
// queued or the earliest timer deadline moved. After each ProcessMessages the driver
// re-reads NextTimerDelayMs, since handling a WM_TIMER re-arms that timer.
class LoopDriver {
public:
    virtual ~LoopDriver() = default;
    virtual void Wake() = 0;
};

class MessageLoop {
public:
    // The process's loop. Its owner (the GUI thread) is the thread that first uses it
    // as owner (creates a window or runs the loop; processing messages claims it only on
    // the process's main thread), or the thread that calls AttachToCurrentThread.
    static MessageLoop& Instance();

    void AttachToCurrentThread();
    bool IsOwnerThread() const;
    // nullptr returns to the standalone driver.
    void SetDriver(LoopDriver* driver);

    WindowHandle CreateWindow(WindowProc proc);
    // Drops the window's queued messages and timers; a blocked sender gets result 0.
    void DestroyWindow(WindowHandle window);
    bool IsWindow(WindowHandle window) const;

    // Queued from any thread; false (message dropped) when the window does not exist.
    bool PostMessage(WindowHandle window, uint32_t msg, WParam w, LParam l);
    // On the owner thread a direct call; elsewhere queued behind earlier posts and waited for.
    LResult SendMessage(WindowHandle window, uint32_t msg, WParam w, LParam l);
    // As SendMessage, waiting at most timeoutMs (kInfinite: no limit) from another thread.
    // On time-out only the wait ends (false): the message is still delivered later. Also
    // false when the window does not exist or is destroyed before handling the message.
    bool SendMessageTimeout(WindowHandle window, uint32_t msg, WParam w, LParam l, uint32_t timeoutMs,
                            LResult* result = nullptr);
    // Runs fn on the owner thread and waits for it (the worker threads' synchronise).
    // An exception thrown by fn is rethrown in the calling thread.
    void RunOnOwnerThread(const std::function<void()>& fn);

    // Handles every pending message and due timer, in arrival order. Returns false once
    // a quit has been requested. Only on the owner thread; elsewhere it handles nothing.
    // An exception escaping a window procedure goes to the application's exception report.
    bool ProcessMessages();
    // Processes messages until pred() holds or timeoutMs (kInfinite: no limit) passed;
    // returns pred(). A quit request does not end it, so a shutdown that waits here still
    // serves blocked senders. On another thread than the owner it only waits for pred().
    bool ProcessUntil(const std::function<bool()>& pred, uint32_t timeoutMs);
    void Quit(int exitCode = 0);
    bool QuitRequested() const;
    // Clears a quit request so that a new run can start (tests, nested runs).
    void ResetQuit();
    // Standalone driver: blocks on the queue until Quit; returns the exit code.
    int Run();

    // Window timers delivered as WM_TIMER on the owner thread. Setting an existing id
    // restarts it with the new interval.
    bool SetTimer(WindowHandle window, uint32_t id, uint32_t intervalMs);
    bool KillTimer(WindowHandle window, uint32_t id);
    // Milliseconds until the earliest timer is due (0 when due), or -1 with no timers.
    int64_t NextTimerDelayMs() const;

    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

private:
    MessageLoop();
    ~MessageLoop();
    struct Impl;
    Impl* impl_;
};

inline bool PostMessage(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    return MessageLoop::Instance().PostMessage(w, msg, wp, lp);
}
inline LResult SendMessage(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    return MessageLoop::Instance().SendMessage(w, msg, wp, lp);
}

}  // namespace hydrix::platform
