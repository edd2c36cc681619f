#include "terminal/receive_pipe.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "comm/com_port.h"
#include "comm/dispatcher_hook.h"
#include "comm/triggers.h"
#include "platform/scope_exit.h"
#include "terminal/byte_queue.h"
#include "terminal/emu_command.h"

namespace hydrix::terminal {

struct ReceivePipe::Shared {
    std::mutex Lock;  // its place in the lock order: see BaseDispatcher's locks
    ByteQueue Queue;
    platform::WindowHandle Window = 0;  // where the port handler posts (under Lock)
    // The pipe's own AM_TERMDATA (lParam kPipeMessage) waits in the loop's queue; from
    // the moment it is taken it no longer counts (under Lock). The port handler and the
    // slices post only without one, so a flood costs one message per slice and the GUI
    // thread gets back to its other events between slices.
    bool Posted = false;

    // GUI thread only: the bytes last swapped out of the queue, handed on from TakenPos,
    // and the buffer a chunk is copied into.
    ByteQueue Taken;
    int TakenPos = 0;
    std::vector<uint8_t> SpareChunk;
    // GUI thread only: counts the times Posted was cleared (only this thread clears it),
    // so a slice that saw it set knows without the lock that it still is.
    uint64_t PostedClears = 0;
};

ReceivePipe::ReceivePipe(const void* owner, std::function<platform::WindowHandle()> window,
                         std::function<void()> attached)
    : window_(std::move(window)),
      attached_(std::move(attached)),
      shared_(std::make_shared<Shared>()),
      hook_(std::make_unique<comm::DispatcherHook>(owner)) {}

ReceivePipe::~ReceivePipe() = default;

bool ReceivePipe::Hooked() const {
    return hook_->Attached();
}

void ReceivePipe::PostToWindow(uint32_t msg) {
    const platform::WindowHandle window = window_();
    if (window != 0) {
        platform::PostMessage(window, msg, 0, 0);
    }
}

// Activation -------------------------------------------------------------------------------

void ReceivePipe::SetActive(bool value) {
    if (value == active_) {
        return;
    }
    attachPending_ = false;
    active_ = value;
    if (port_ != nullptr) {
        if (value) {
            RequestAttach();
        } else {
            Detach();
        }
    } else if (value) {
        attachPending_ = true;
    }
}

void ReceivePipe::RequestAttach() {
    // With the port open the handler joins at once, from the next byte the port
    // receives: what the instrument sent before is never shown or captured, however
    // the dispatcher's next offer and this thread's messages interleave. The posted
    // step then only finishes the attach (and opens an auto-open port when needed).
    if (window_() != 0 && !hook_->Attached() && port_->Open() && !port_->Loading()) {
        if (comm::BaseDispatcher* dispatcher = port_->Dispatcher()) {
            Hook(*dispatcher);
        }
    }
    attachPending_ = true;
    PostToWindow(AM_TERMATTACH);
}

void ReceivePipe::AttachStep() {
    if (attaching_) {
        return;
    }
    attaching_ = true;
    // Released on every path, also when opening the port raises.
    ScopeExit release([this] { attaching_ = false; });
    if (port_ == nullptr) {
        return;
    }
    if (port_->Loading()) {
        PostToWindow(AM_TERMATTACH);
        return;
    }
    if (hook_->Attached() && attachPending_) {
        // Hooked when it was requested: only the rest of the step is left.
        attachPending_ = false;
        attached_();
        return;
    }
    // An inactive terminal has no reason to open the port.
    if (hook_->Attached() || (!port_->Open() && !(port_->AutoOpen() && active_))) {
        attachPending_ = active_ && !hook_->Attached();
        return;
    }
    attachPending_ = false;
    if (!port_->Open()) {
        try {
            port_->SetOpen(true);
        } catch (...) {
            // The port's opened notice attaches once the port does open.
            attachPending_ = active_;
            throw;
        }
    }
    if (active_ && !hook_->Attached()) {
        if (comm::BaseDispatcher* dispatcher = port_->ActiveDispatcher()) {
            Hook(*dispatcher);
        }
    }
    attached_();
}

void ReceivePipe::Hook(comm::BaseDispatcher& dispatcher) {
    std::shared_ptr<Shared> rx = shared_;
    comm::BaseDispatcher* d = &dispatcher;
    hook_->Attach(
        *port_, dispatcher,
        [rx, d](uint32_t msg, uint32_t offered, int32_t) {
            if (msg != comm::kTriggerAvailMsg || offered == 0) {
                return;
            }
            const int n = static_cast<int>(offered);
            std::lock_guard guard(rx->Lock);
            uint8_t* room = rx->Queue.Reserve(n);
            const int got = d->ReadBytes(room, n);
            if (got > 0) {
                rx->Queue.Commit(got);
            }
            // Posted under the lock, so the GUI thread's "queue empty, nothing
            // posted" and this post cannot cross.
            if (!rx->Posted && rx->Queue.Count() > 0) {
                rx->Posted = platform::PostMessage(rx->Window, AM_TERMDATA,
                                                   static_cast<platform::WParam>(CharSource::csPort), kPipeMessage);
            }
        },
        comm::HandlerStart::kFromNow);
}

void ReceivePipe::PortOpened() {
    if (attachPending_) {
        RequestAttach();
    }
}

void ReceivePipe::Detach() {
    hook_->Detach(port_);
    if (active_) {
        attachPending_ = true;
    }
}

// The window ---------------------------------------------------------------------------------

void ReceivePipe::WindowCreated(platform::WindowHandle window) {
    // Bytes that arrived while there was no window are picked up now.
    std::lock_guard guard(shared_->Lock);
    shared_->Window = window;
    shared_->Posted =
        shared_->Queue.Count() > 0 &&
        platform::PostMessage(window, AM_TERMDATA, static_cast<platform::WParam>(CharSource::csPort), kPipeMessage);
}

void ReceivePipe::WindowDestroyed() {
    std::lock_guard guard(shared_->Lock);
    shared_->Window = 0;
    shared_->Posted = false;  // its message goes with the window
    ++shared_->PostedClears;
}

// The queue ----------------------------------------------------------------------------------

void ReceivePipe::Write(const uint8_t* data, int count) {
    if (count <= 0) {
        return;
    }
    // The window first: making it posts for whatever the queue holds as the port's bytes,
    // so written text queued before that would be handed on as if it came from the port.
    const platform::WindowHandle window = window_();
    {
        std::lock_guard guard(shared_->Lock);
        shared_->Queue.Put(data, count);
    }
    if (window != 0) {
        platform::PostMessage(window, AM_TERMDATA, static_cast<platform::WParam>(CharSource::csWriteChar), 0);
    }
}

int ReceivePipe::Count() {
    std::lock_guard guard(shared_->Lock);
    return shared_->Queue.Count() + shared_->Taken.Count() - shared_->TakenPos;
}

void ReceivePipe::TakeAll(const ChunkHandler& handle) {
    const bool outer = handOnAll_;
    handOnAll_ = true;
    ScopeExit restore([this, outer] { handOnAll_ = outer; });
    Take(static_cast<platform::WParam>(CharSource::csPort), 0, handle);
}

void ReceivePipe::Take(platform::WParam source, platform::LParam origin, const ChunkHandler& handle) {
    // The whole queue is swapped out under the lock (the blocks trade places, no byte is
    // copied), then handed on in steps until the slice's time is up, so the emulator and
    // the capture file never hold up the dispatcher thread and the GUI thread gets back to
    // its own events between slices. Before a step is handed on, a message for the bytes
    // behind it is in the queue, and each step is copied out first: a handler that serves
    // messages (a modal dialog) may come back in here.
    Shared& s = *shared_;
    if (origin == kPipeMessage) {
        std::lock_guard guard(s.Lock);
        s.Posted = false;
        ++s.PostedClears;
    }
    std::vector<uint8_t> chunk;
    chunk.swap(s.SpareChunk);
    ScopeExit keep([&s, &chunk] {
        chunk.clear();
        if (s.SpareChunk.capacity() < chunk.capacity()) {
            s.SpareChunk.swap(chunk);
        }
    });
    // Without a window to post to, or for TakeAll, everything is handed on here so no
    // byte is left behind.
    const bool sliced = !handOnAll_ && s.Window != 0;
    const uint32_t start = clock_->NowMs();
    // Posted was seen set before this many clears: the lock is not needed to know it.
    uint64_t postedSeen = s.PostedClears - 1;
    for (;;) {
        if (s.TakenPos >= s.Taken.Count()) {
            s.Taken.Clear();
            s.TakenPos = 0;
            std::lock_guard guard(s.Lock);
            if (s.Queue.Count() == 0) {
                return;
            }
            std::swap(s.Queue, s.Taken);
        }
        const int n = std::min(s.Taken.Count() - s.TakenPos, kReceiveStep);
        const uint8_t* p = s.Taken.Peek(s.Taken.Count()) + s.TakenPos;
        chunk.assign(p, p + n);
        s.TakenPos += n;
        if (sliced && postedSeen != s.PostedClears) {
            std::lock_guard guard(s.Lock);
            if (!s.Posted && (s.TakenPos < s.Taken.Count() || s.Queue.Count() > 0)) {
                s.Posted = platform::PostMessage(s.Window, AM_TERMDATA, source, kPipeMessage);
            }
            if (s.Posted) {
                postedSeen = s.PostedClears;
            }
        }
        handle(chunk.data(), n, static_cast<CharSource>(source & 0xFF));
        if (sliced && clock_->NowMs() - start >= kReceiveSliceMs) {
            // The slice's time is up: the message in the queue takes the rest.
            if (postedSeen == s.PostedClears) {
                return;
            }
            std::lock_guard guard(s.Lock);
            if (s.Posted) {
                return;
            }
        }
    }
}

}  // namespace hydrix::terminal
