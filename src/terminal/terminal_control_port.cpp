// The terminal control's link to its com port: attaching the port handler, which copies
// offered bytes into the receive queue on the dispatcher thread, and taking them out of
// the queue on the GUI thread for the capture file and the emulator.
#include <algorithm>
#include <vector>

#include "comm/triggers.h"
#include "platform/scope_exit.h"
#include "terminal/terminal_control.h"

namespace hydrix::terminal {

void CustomTerminal::DisplayChar(uint8_t ch) {
    QueueWritten(&ch, 1);
}

void CustomTerminal::DisplayString(const std::string& text) {
    QueueWritten(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

void CustomTerminal::QueueWritten(const uint8_t* data, int count) {
    if (count <= 0) {
        return;
    }
    // The window first: making it posts for whatever the queue holds as the port's bytes,
    // so written text queued before that would be handed on as if it came from the port.
    const platform::WindowHandle window = WindowHandle();
    {
        std::lock_guard guard(receive_->Lock);
        receive_->Queue.Put(data, count);
    }
    if (window != 0) {
        platform::PostMessage(window, AM_TERMDATA, static_cast<platform::WParam>(CharSource::csWriteChar), 0);
    }
}

int CustomTerminal::ReceiveQueueCount() {
    std::lock_guard guard(receive_->Lock);
    return receive_->Queue.Count() + taken_.Count() - takenPos_;
}

// Activation -------------------------------------------------------------------------------

void CustomTerminal::RequestAttach() {
    // With the port open the handler joins at once, from the next byte the port
    // receives: what the instrument sent before is never shown or captured, however
    // the dispatcher's next offer and this thread's messages interleave. The posted
    // step then only finishes the attach (and opens an auto-open port when needed).
    if (WindowHandle() != 0 && !hook_.Attached() && comPort_->Open() && !comPort_->Loading()) {
        if (comm::BaseDispatcher* dispatcher = comPort_->Dispatcher()) {
            Hook(*dispatcher);
        }
    }
    attachPending_ = true;
    PostToSelf(AM_TERMATTACH, 0, 0);
}

void CustomTerminal::AttachStep() {
    if (attaching_) {
        return;
    }
    attaching_ = true;
    // Released on every path, also when opening the port raises.
    ScopeExit release([this] { attaching_ = false; });
    if (comPort_ == nullptr) {
        return;
    }
    if (comPort_->Loading()) {
        PostToSelf(AM_TERMATTACH, 0, 0);
        return;
    }
    if (hook_.Attached() && attachPending_) {
        // Hooked when it was requested: only the rest of the step is left.
        attachPending_ = false;
        Loaded();
        return;
    }
    // An inactive terminal has no reason to open the port.
    if (hook_.Attached() || (!comPort_->Open() && !(comPort_->AutoOpen() && active_))) {
        attachPending_ = active_ && !hook_.Attached();
        return;
    }
    attachPending_ = false;
    if (!comPort_->Open()) {
        try {
            comPort_->SetOpen(true);
        } catch (...) {
            // The port's opened notice attaches once the port does open.
            attachPending_ = active_;
            throw;
        }
    }
    if (active_ && !hook_.Attached()) {
        if (comm::BaseDispatcher* dispatcher = comPort_->ActiveDispatcher()) {
            Hook(*dispatcher);
        }
    }
    Loaded();
}

void CustomTerminal::Hook(comm::BaseDispatcher& dispatcher) {
    std::shared_ptr<ReceiveQueue> rx = receive_;
    comm::BaseDispatcher* d = &dispatcher;
    hook_.Attach(
        *comPort_, dispatcher,
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
                                                   static_cast<platform::WParam>(CharSource::csPort), 0);
            }
        },
        comm::HandlerStart::kFromNow);
}

void CustomTerminal::Detach() {
    hook_.Detach(comPort_);
    if (active_) {
        attachPending_ = true;
    }
}

// Received data ------------------------------------------------------------------------------

void CustomTerminal::ProcessAllReceived() {
    const bool outer = handOnAll_;
    handOnAll_ = true;
    ScopeExit restore([this, outer] { handOnAll_ = outer; });
    ProcessReceived(static_cast<platform::WParam>(CharSource::csPort));
}

void CustomTerminal::ProcessReceived(platform::WParam source) {
    // The whole receive queue is swapped out under the lock (the blocks trade places, no
    // byte is copied), then handed on in bounded chunks, one per message, so the emulator
    // and the capture file never hold up the dispatcher thread and the GUI thread gets
    // back to its own events between chunks. Each chunk is copied out first: a handler
    // that serves messages (a modal dialog) may come back in here.
    std::vector<uint8_t> chunk;
    chunk.swap(spareChunk_);
    ScopeExit keep([this, &chunk] {
        chunk.clear();
        if (spareChunk_.capacity() < chunk.capacity()) {
            spareChunk_.swap(chunk);
        }
    });
    bool more = true;
    while (more) {
        if (takenPos_ >= taken_.Count()) {
            taken_.Clear();
            takenPos_ = 0;
            std::lock_guard guard(receive_->Lock);
            if (receive_->Queue.Count() == 0) {
                receive_->Posted = false;
                return;
            }
            std::swap(receive_->Queue, taken_);
        }
        const int n = std::min(taken_.Count() - takenPos_, kReceiveChunk);
        const uint8_t* p = taken_.Peek(taken_.Count()) + takenPos_;
        chunk.assign(p, p + n);
        takenPos_ += n;
        {
            std::lock_guard guard(receive_->Lock);
            more = takenPos_ < taken_.Count() || receive_->Queue.Count() > 0;
            // The rest is handled on a message of its own; without a window to post to,
            // it is handled here so no byte is left behind.
            receive_->Posted =
                more && handle_ != 0 && !handOnAll_ && platform::PostMessage(handle_, AM_TERMDATA, source, 0);
            if (receive_->Posted) {
                more = false;
            }
        }
        capture_.Write(chunk.data(), chunk.size());
        {
            receiving_ = true;
            ScopeExit endReceive([this] { receiving_ = false; });
            emulator_->ProcessBlock(chunk.data(), n, static_cast<CharSource>(source & 0xFF));
        }
        if (followPending_) {
            ScrollCursorIntoView();
        }
        if (!useLazyDisplay_ && emulator_->NeedsUpdate()) {
            PaintStep();
        }
        lazyBytes_ += n;
    }
}

}  // namespace hydrix::terminal
