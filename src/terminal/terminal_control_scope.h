// Helpers shared by the terminal control's source files.
#pragma once

#include <utility>

namespace hydrix::terminal {

// Runs a function when the scope ends, also when it is left by an exception.
template <typename Fn>
class ScopeExit {
public:
    explicit ScopeExit(Fn fn) : fn_(std::move(fn)) {}
    ~ScopeExit() { fn_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Fn fn_;
};

}  // namespace hydrix::terminal
