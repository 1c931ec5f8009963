// Auto-reset and manual-reset events: the two hand-over signals between the
// protocol thread and the worker. Safe to use from any thread.
#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

/// Each set() releases exactly one wait(); a set() with no waiter is kept
/// until the next wait().
class auto_reset_event {
public:
    void set();
    void wait();

private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
};

/// Stays signalled from set() until reset(); wait() returns at once while set.
class manual_reset_event {
public:
    explicit manual_reset_event(bool initially_set) : set_(initially_set) {}
    void set();
    void reset();
    void wait();

private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_;
};

}  // namespace platform
