// The way of received bytes into the terminal. Attached to the dispatcher of the
// terminal's com port, the port handler copies every offered byte into the receive
// queue on the dispatcher thread and posts AM_TERMDATA; on the GUI thread the queue is
// taken out whole and handed on in time-bounded slices. Text the program writes to the screen
// takes the same queue. Owned by the terminal control; only the .cpp sees the dispatcher.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/message_loop.h"

namespace hydrix::comm {
class BaseDispatcher;
class CustomComPort;
class DispatcherHook;
}  // namespace hydrix::comm

namespace hydrix::terminal {

enum class CharSource : uint8_t;

// Posted to the terminal's own window: bytes wait in the receive queue (wParam: their
// CharSource), and the attach step is due.
constexpr uint32_t AM_TERMDATA = 0x7E47;
constexpr uint32_t AM_TERMATTACH = 0x7E89;

// One AM_TERMDATA hands on received bytes in steps of kReceiveStep until it has taken
// kReceiveSliceMs; the rest waits for a fresh message, so that timers, input and painting
// run between the slices of a flood however fast or slow the machine is.
constexpr int kReceiveStep = 4 * 1024;
constexpr uint32_t kReceiveSliceMs = 1;
// The lParam of the AM_TERMDATA that the pipe keeps at most one of in the loop's queue
// (for received bytes and for the rest of a slice); written text posts its own with 0.
constexpr platform::LParam kPipeMessage = 1;

class ReceivePipe {
public:
    // One step taken from the queue, in order.
    using ChunkHandler = std::function<void(const uint8_t* data, int count, CharSource source)>;

    // owner keys the port handler; window gives the terminal's window, made on demand (0
    // when there can be none); attached runs when an attach step has finished.
    ReceivePipe(const void* owner, std::function<platform::WindowHandle()> window, std::function<void()> attached);
    ~ReceivePipe();
    ReceivePipe(const ReceivePipe&) = delete;
    ReceivePipe& operator=(const ReceivePipe&) = delete;

    // The port whose dispatcher the handler joins. Its owner detaches first.
    void SetPort(comm::CustomComPort* port) { port_ = port; }
    // The clock that times the slices (the system's by default); it must outlive the pipe.
    void SetClock(const platform::Clock& clock) { clock_ = &clock; }

    // Wanted: attached whenever the port allows. Switching on with a port asks for the
    // attach step; switching off detaches.
    bool Active() const { return active_; }
    void SetActive(bool value);
    // The port handler is attached / Active waits for the port.
    bool Hooked() const;
    bool AttachPending() const { return attachPending_; }
    // With the port open the handler joins at once; the posted attach step finishes.
    void RequestAttach();
    // AM_TERMATTACH. Opening an auto-open port here may raise its open errors.
    void AttachStep();
    // The port opened (attaches when pending), or closes (detaches).
    void PortOpened();
    void Detach();

    // The terminal's window now exists / goes: bytes already queued are posted for.
    void WindowCreated(platform::WindowHandle window);
    void WindowDestroyed();

    // Text to show (and capture) as if received, handed on as csWriteChar.
    void Write(const uint8_t* data, int count);
    // Bytes waiting, including those taken out but not yet handed on.
    int Count();
    // AM_TERMDATA (its wParam and lParam): hands on one slice, and the rest on a message
    // of its own (all of it when there is no window). A handler that serves messages may
    // come back in here.
    void Take(platform::WParam source, platform::LParam origin, const ChunkHandler& handle);
    // Hands on every byte waiting now, in steps.
    void TakeAll(const ChunkHandler& handle);

private:
    struct Shared;

    void PostToWindow(uint32_t msg);
    // Attaches the port handler, offered bytes from the next one received.
    void Hook(comm::BaseDispatcher& dispatcher);

    std::function<platform::WindowHandle()> window_;
    std::function<void()> attached_;
    const platform::Clock* clock_ = &platform::SystemClock();
    comm::CustomComPort* port_ = nullptr;
    // Shared with the port handler, so that a call still running on the dispatcher
    // thread when the terminal goes writes into a live queue and posts to a dead window.
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<comm::DispatcherHook> hook_;
    bool active_ = false;
    bool attachPending_ = false;
    bool attaching_ = false;
    // TakeAll is running: nothing is left for a later message.
    bool handOnAll_ = false;
};

}  // namespace hydrix::terminal
