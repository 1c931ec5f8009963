// The worker thread on which the engine thinks, and the two events of the
// hand-over: `think_request` (auto-reset) releases one think; `think_done`
// (manual-reset) is signalled while the worker is idle.
//
// Thread rules: request_think() and await_idle() are for the main thread; the
// think body runs on the worker. The main thread touches the player and the
// game only after await_idle().
#pragma once

#include <functional>
#include <thread>

#include "platform/event.h"

namespace protocol {

class think_worker {
public:
    explicit think_worker(std::function<void()> think);
    /// Waits for a running think, then stops the thread. The engine itself
    /// never gets here (it exits without teardown); tests do.
    ~think_worker();

    think_worker(const think_worker&) = delete;
    think_worker& operator=(const think_worker&) = delete;

    /// Marks the worker busy and releases one think; returns at once.
    void request_think();
    /// Blocks until the worker is idle.
    void await_idle();

private:
    void loop();

    std::function<void()> think_;
    platform::auto_reset_event think_request_;
    platform::manual_reset_event think_done_{true};
    bool stopping_ = false;  // written before a request, read after it
    std::thread thread_;
};

}  // namespace protocol
