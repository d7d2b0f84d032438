#pragma once

#include <memory>
#include <mutex>

// The one way a lower layer reaches something that lives above it or outside the process (the
// desktop, a clock, a test's fake): an interface that derives from Service<Itself>. The start-up
// code (or a test) calls Interface::set(implementation) once; users call Interface::shared(),
// which gives nullptr until something was set, and treat that as "nothing on this side".
// Safe from any thread.
template <typename Interface> class Service {
public:
    static void set(std::shared_ptr<Interface> implementation)
    {
        auto& slot = state();
        std::lock_guard lock(slot.mutex);
        slot.current = std::move(implementation);
    }

    static std::shared_ptr<Interface> shared()
    {
        auto& slot = state();
        std::lock_guard lock(slot.mutex);
        return slot.current;
    }

protected:
    Service() = default;
    ~Service() = default;

private:
    struct Slot {
        std::mutex mutex;
        std::shared_ptr<Interface> current;
    };
    // Never destroyed: an implementation may hold objects of the application (sound players),
    // which must not be torn down after it at exit.
    static Slot& state()
    {
        static auto* slot = new Slot;
        return *slot;
    }
};
