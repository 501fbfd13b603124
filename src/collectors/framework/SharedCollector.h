#pragma once
// The process-wide instance of a collector's platform class: made once on first use,
// dropped by the class's cleanup, after which the next use makes a new one.
#include <memory>
#include <mutex>

namespace telvo {

template <class T>
class SharedCollector {
public:
    // The instance, made with `make` (which runs the class's setup) on first use.
    template <class Make>
    static std::shared_ptr<T> get(Make make) {
        std::lock_guard<std::mutex> lock(mutex());
        if (!instance()) instance() = make();
        return instance();
    }
    // Sends the instance its cleanup and drops it, when there is one.
    static void drop() {
        std::shared_ptr<T> old;
        {
            std::lock_guard<std::mutex> lock(mutex());
            old.swap(instance());
        }
        if (old) old->cleanup();
    }

private:
    static std::shared_ptr<T>& instance() {
        static std::shared_ptr<T> i;
        return i;
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
};

}  // namespace telvo
