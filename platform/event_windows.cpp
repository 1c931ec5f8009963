#include "platform/event.h"

#include <windows.h>

#include <system_error>

namespace platform {
namespace {

void* create_event(bool manual_reset, bool initially_set) {
    HANDLE event = CreateEventW(nullptr, manual_reset ? TRUE : FALSE, initially_set ? TRUE : FALSE, nullptr);
    if (event == nullptr)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEvent");
    return event;
}

// SetEvent, ResetEvent and an infinite wait fail only on a handle that is not
// an event; ours is owned and open for the object's whole life.
void wait_for(void* event) { WaitForSingleObject(static_cast<HANDLE>(event), INFINITE); }

}  // namespace

auto_reset_event::auto_reset_event() : handle_(create_event(false, false)) {}
auto_reset_event::~auto_reset_event() { CloseHandle(static_cast<HANDLE>(handle_)); }
void auto_reset_event::set() { SetEvent(static_cast<HANDLE>(handle_)); }
void auto_reset_event::wait() { wait_for(handle_); }

manual_reset_event::manual_reset_event(bool initially_set) : handle_(create_event(true, initially_set)) {}
manual_reset_event::~manual_reset_event() { CloseHandle(static_cast<HANDLE>(handle_)); }
void manual_reset_event::set() { SetEvent(static_cast<HANDLE>(handle_)); }
void manual_reset_event::reset() { ResetEvent(static_cast<HANDLE>(handle_)); }
void manual_reset_event::wait() { wait_for(handle_); }

}  // namespace platform
