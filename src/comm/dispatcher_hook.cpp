#include "comm/dispatcher_hook.h"

#include <utility>

#include "comm/com_port.h"

namespace hydrix::comm {

void DispatcherHook::Attach(const CustomComPort& port, BaseDispatcher& dispatcher, TriggerMethod method,
                            HandlerStart start) {
    Detach(&port);
    dispatcher.AttachMethodHandler(owner_, std::move(method), start);
    dispatcher_ = &dispatcher;
}

BaseDispatcher* DispatcherHook::Held(const CustomComPort* port) const {
    return dispatcher_ != nullptr && port != nullptr && port->Dispatcher() == dispatcher_ ? dispatcher_ : nullptr;
}

void DispatcherHook::Detach(const CustomComPort* port) {
    if (BaseDispatcher* dispatcher = Held(port)) {
        dispatcher->DetachMethodHandler(owner_);
    }
    dispatcher_ = nullptr;
}

}  // namespace hydrix::comm
