// The process-wide list of open dispatchers: a notification carries its dispatcher's
// slot number in the high 16 bits of its second parameter, and a receiver finds the
// dispatcher (and through it the port) here.
#pragma once

#include <mutex>

namespace hydrix::comm {

class BaseDispatcher;

class DispatcherRegistry {
public:
    // Guards the list; held only while a slot is read or changed, never across a
    // handler (a leaf in the lock order kept with BaseDispatcher's locks).
    static std::recursive_mutex& Lock();
    // Takes the first empty slot, else appends; returns the slot number.
    static int Register(BaseDispatcher* dispatcher);
    // Empties the slot and drops trailing empty slots.
    static void Unregister(int index);
    // The dispatcher in a slot, or nullptr; call with Lock() held.
    static BaseDispatcher* At(int index);
    static int Count();
};

}  // namespace hydrix::comm
