// The terminal control's link to its com port: attaching the port handler, which copies
// offered bytes into the receive queue on the dispatcher thread, and taking them out of
// the queue on the GUI thread for the capture file and the emulator.
#include <algorithm>
#include <vector>

#include "comm/triggers.h"
#include "terminal/terminal_control.h"
#include "terminal/terminal_control_scope.h"

namespace hydrix::terminal {

void CustomTerminal::DisplayChar(uint8_t ch) {
    {
        std::lock_guard guard(receive_->Lock);
        receive_->Queue.Put(&ch, 1);
    }
    PostToSelf(AM_TERMDATA, static_cast<platform::WParam>(CharSource::csWriteChar), 0);
}

void CustomTerminal::DisplayString(const std::string& text) {
    if (text.empty()) {
        return;
    }
    {
        std::lock_guard guard(receive_->Lock);
        receive_->Queue.Put(text.data(), static_cast<int>(text.size()));
    }
    PostToSelf(AM_TERMDATA, static_cast<platform::WParam>(CharSource::csWriteChar), 0);
}

int CustomTerminal::ReceiveQueueCount() {
    std::lock_guard guard(receive_->Lock);
    return receive_->Queue.Count();
}

// Activation -------------------------------------------------------------------------------

void CustomTerminal::RequestAttach() {
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
    if (hooked_ || (!comPort_->Open() && !comPort_->AutoOpen())) {
        attachPending_ = active_;
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
    if (active_) {
        if (comm::BaseDispatcher* dispatcher = comPort_->ActiveDispatcher()) {
            std::shared_ptr<ReceiveQueue> rx = receive_;
            dispatcher->AttachMethodHandler(
                this, [rx, dispatcher](uint32_t msg, uint32_t offered, int32_t) {
                    if (msg != comm::kTriggerAvailMsg || offered == 0) {
                        return;
                    }
                    const int n = static_cast<int>(offered);
                    {
                        std::lock_guard guard(rx->Lock);
                        uint8_t* room = rx->Queue.Reserve(n);
                        const int got = dispatcher->ReadBytes(room, n);
                        if (got > 0) {
                            rx->Queue.Commit(got);
                        }
                    }
                    platform::PostMessage(rx->Window.load(), AM_TERMDATA,
                                          static_cast<platform::WParam>(CharSource::csPort), 0);
                });
            hooked_ = true;
        }
    }
    Loaded();
}

void CustomTerminal::Detach() {
    if (hooked_) {
        // Not ActiveDispatcher: that could open a closed port while detaching from it.
        if (comPort_ != nullptr) {
            if (comm::BaseDispatcher* dispatcher = comPort_->Dispatcher()) {
                dispatcher->DetachMethodHandler(this);
            }
        }
        hooked_ = false;
    }
    if (active_) {
        attachPending_ = true;
    }
}

// Received data ------------------------------------------------------------------------------

void CustomTerminal::ProcessReceived(platform::WParam source) {
    // A bounded chunk is taken out under the lock, so the emulator and the capture file
    // never hold up the dispatcher thread. The chunk storage is reused.
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
        {
            std::lock_guard guard(receive_->Lock);
            const int n = std::min(receive_->Queue.Count(), kReceiveChunk);
            if (n <= 0) {
                return;
            }
            const uint8_t* p = receive_->Queue.Peek(n);
            chunk.assign(p, p + n);
            receive_->Queue.Remove(n);
            more = receive_->Queue.Count() > 0;
        }
        // The rest is handled on a message of its own; without a window to post to,
        // it is handled here so no byte is left behind.
        if (more && WindowHandle() != 0) {
            PostToSelf(AM_TERMDATA, source, 0);
            more = false;
        }
        const int n = static_cast<int>(chunk.size());
        capture_.Write(chunk.data(), chunk.size());
        emulator_->ProcessBlock(chunk.data(), n, static_cast<CharSource>(source & 0xFF));
        if (!useLazyDisplay_ && emulator_->NeedsUpdate()) {
            PaintStep();
        }
        lazyBytes_ += n;
    }
}

}  // namespace hydrix::terminal
