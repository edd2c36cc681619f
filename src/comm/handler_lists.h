// Who hears of a trigger firing: the method handlers (the packet manager, the terminal),
// the procedure handlers and the window handlers (the port's hidden window), each list in
// registration order. Changed under the dispatcher lock; a delivery walks the lists by
// index, so that a handler may attach or detach (deferred) while it runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "comm/triggers.h"
#include "platform/message_loop.h"

namespace hydrix::comm {

// The lists in the order a notification reaches them.
enum class HandlerKind : uint8_t { kMethod, kProcedure, kWindow };
constexpr HandlerKind kDeliveryOrder[] = {HandlerKind::kMethod, HandlerKind::kProcedure, HandlerKind::kWindow};

// What the port tells SetHandlerFlags.
enum class HandlerFlagsMode : uint8_t {
    kRecompute = 0,     // a handler came or went
    kPortEvents = 1,    // the port has trigger events assigned
    kNoPortEvents = 2,  // it has none
};

struct HandlerRec {
    const void* Object = nullptr;  // method handler: known by its object
    TriggerMethod Method;
    TriggerProc Proc = nullptr;
    platform::WindowHandle Window = 0;
    // The first place in the received stream the handler is offered.
    uint64_t From = 0;
    bool Deleted = false;
};

class HandlerLists {
public:
    void Add(HandlerKind kind, HandlerRec rec);
    // Marks every live record that matches deleted, and removes them unless a delivery
    // runs (deferred: removed when it ends). True when one matched.
    bool Remove(HandlerKind kind, bool deferred, const std::function<bool(const HandlerRec&)>& matches);
    // After a delivery: removes the records marked meanwhile; true when there were any.
    bool RemoveDeferred();
    // The record at index, or nullptr past the end; deleted tells whether it is marked.
    std::shared_ptr<HandlerRec> At(HandlerKind kind, size_t index, bool& deleted) const;
    std::vector<platform::WindowHandle> LiveWindows() const;

    void SetFlags(HandlerFlagsMode mode);
    bool NeedService() const { return needService_; }
    // Windows are sent notifications only when the port wants its events or another
    // window listens beside its own.
    bool ServesWindows() const { return List(HandlerKind::kWindow).size() > 1 || portEventsAssigned_; }

private:
    using Records = std::vector<std::shared_ptr<HandlerRec>>;
    const Records& List(HandlerKind kind) const { return lists_[static_cast<size_t>(kind)]; }
    Records& List(HandlerKind kind) { return lists_[static_cast<size_t>(kind)]; }

    Records lists_[3];
    bool portEventsAssigned_ = false;
    bool needService_ = false;
    bool deletionsPending_ = false;
};

}  // namespace hydrix::comm
