// Runs a function when a scope ends, also when an exception leaves it: the end of a
// delivery, of an attach, of a receive pass. One guard for every library; it lives in
// namespace hydrix so that each of them names it alike.
#pragma once

#include <utility>

namespace hydrix {

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

}  // namespace hydrix
