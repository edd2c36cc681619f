// A user's method handler on the dispatcher its com port holds (the packet manager, the
// terminal, the station's report reader). The handler is taken off again only while the
// port still holds that dispatcher: one the port has let go of (closed, or reopened with
// another) may already be gone, and is not touched.
#pragma once

#include "comm/dispatcher.h"

namespace hydrix::comm {

class CustomComPort;

class DispatcherHook {
public:
    // owner is the key the handler is attached under.
    explicit DispatcherHook(const void* owner) : owner_(owner) {}
    DispatcherHook(const DispatcherHook&) = delete;
    DispatcherHook& operator=(const DispatcherHook&) = delete;

    // Attaches to dispatcher, which port holds, after letting go of an earlier one.
    void Attach(const CustomComPort& port, BaseDispatcher& dispatcher, TriggerMethod method,
                HandlerStart start = HandlerStart::kAllWaiting);
    // The dispatcher attached to while port still holds it, else null: only then may it
    // be touched (to delete a trigger taken on it, say) before Detach.
    BaseDispatcher* Held(const CustomComPort* port) const;
    // Takes the handler off where port still holds the dispatcher; forgets it always.
    void Detach(const CustomComPort* port);

    BaseDispatcher* Dispatcher() const { return dispatcher_; }
    bool Attached() const { return dispatcher_ != nullptr; }

private:
    const void* owner_;
    BaseDispatcher* dispatcher_ = nullptr;
};

}  // namespace hydrix::comm
