// Auto-reset and manual-reset events: the two hand-over signals between the
// protocol thread and the worker. Safe to use from any thread. On Windows they
// are the kernel's own event objects (event_windows.cpp); elsewhere a mutex
// and a condition variable (event.cpp).
#pragma once

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace platform {

/// Each set() releases exactly one wait(); a set() with no waiter is kept
/// until the next wait(). Construction throws std::system_error when the
/// system has no event to give.
class auto_reset_event {
public:
    auto_reset_event();
    ~auto_reset_event();
    auto_reset_event(const auto_reset_event&) = delete;
    auto_reset_event& operator=(const auto_reset_event&) = delete;

    void set();
    void wait();

private:
#ifdef _WIN32
    void* handle_;  // the event's HANDLE, owned; closed by the destructor
#else
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_ = false;
#endif
};

/// Stays signalled from set() until reset(); wait() returns at once while set.
class manual_reset_event {
public:
    explicit manual_reset_event(bool initially_set);
    ~manual_reset_event();
    manual_reset_event(const manual_reset_event&) = delete;
    manual_reset_event& operator=(const manual_reset_event&) = delete;

    void set();
    void reset();
    void wait();

private:
#ifdef _WIN32
    void* handle_;  // the event's HANDLE, owned; closed by the destructor
#else
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool set_;
#endif
};

}  // namespace platform
