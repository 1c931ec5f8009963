#include "platform/event.h"

namespace platform {

auto_reset_event::auto_reset_event() = default;
auto_reset_event::~auto_reset_event() = default;

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

manual_reset_event::manual_reset_event(bool initially_set) : set_(initially_set) {}
manual_reset_event::~manual_reset_event() = default;

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
