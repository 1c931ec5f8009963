#include "platform/event.h"

namespace platform {

void auto_reset_event::set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    signalled_.notify_one();
}

void auto_reset_event::wait() {
    std::unique_lock lock(mutex_);
    signalled_.wait(lock, [this] { return set_; });
    set_ = false;
}

void manual_reset_event::set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    signalled_.notify_all();
}

void manual_reset_event::reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

void manual_reset_event::wait() {
    std::unique_lock lock(mutex_);
    signalled_.wait(lock, [this] { return set_; });
}

}  // namespace platform
