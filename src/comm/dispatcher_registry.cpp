#include "comm/dispatcher_registry.h"

#include <vector>

namespace hydrix::comm {

namespace {

std::vector<BaseDispatcher*>& Slots() {
    static std::vector<BaseDispatcher*> slots;
    return slots;
}

}  // namespace

std::recursive_mutex& DispatcherRegistry::Lock() {
    static std::recursive_mutex lock;
    return lock;
}

int DispatcherRegistry::Register(BaseDispatcher* dispatcher) {
    std::lock_guard guard(Lock());
    auto& slots = Slots();
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] == nullptr) {
            slots[i] = dispatcher;
            return static_cast<int>(i);
        }
    }
    slots.push_back(dispatcher);
    return static_cast<int>(slots.size() - 1);
}

void DispatcherRegistry::Unregister(int index) {
    std::lock_guard guard(Lock());
    auto& slots = Slots();
    if (index < 0 || index >= static_cast<int>(slots.size())) {
        return;
    }
    slots[static_cast<size_t>(index)] = nullptr;
    while (!slots.empty() && slots.back() == nullptr) {
        slots.pop_back();
    }
}

BaseDispatcher* DispatcherRegistry::At(int index) {
    std::lock_guard guard(Lock());
    auto& slots = Slots();
    if (index < 0 || index >= static_cast<int>(slots.size())) {
        return nullptr;
    }
    return slots[static_cast<size_t>(index)];
}

int DispatcherRegistry::Count() {
    std::lock_guard guard(Lock());
    return static_cast<int>(Slots().size());
}

}  // namespace hydrix::comm
