#include "protocol/think_worker.h"

namespace protocol {

think_worker::think_worker(std::function<void()> think) : think_(std::move(think)), thread_([this] { loop(); }) {}

think_worker::~think_worker() {
    await_idle();
    stopping_ = true;
    think_request_.set();
    thread_.join();
}

void think_worker::request_think() {
    think_done_.reset();
    think_request_.set();
}

void think_worker::await_idle() { think_done_.wait(); }

void think_worker::loop() {
    for (;;) {
        think_request_.wait();
        if (stopping_) return;
        think_();
        think_done_.set();
    }
}

}  // namespace protocol
