#pragma once
// Replies and delayed blocks of the panels outlive nothing: whileAlive(alive, f) is f, run
// only while the owner's flag (cleared in its destructor) still says it lives.
#include <memory>
#include <utility>

namespace telvo::app {

template <class F>
auto whileAlive(const std::shared_ptr<bool>& alive, F f) {
    return [weak = std::weak_ptr<bool>(alive), f = std::move(f)](auto&&... args) {
        auto live = weak.lock();
        if (live && *live) f(std::forward<decltype(args)>(args)...);
    };
}

}  // namespace telvo::app
