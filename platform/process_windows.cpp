#include "platform/process.h"

// PSAPI_VERSION 2 maps GetProcessMemoryInfo to K32GetProcessMemoryInfo in
// kernel32.dll (Windows 7 and later), so no psapi.dll is needed.
#define PSAPI_VERSION 2
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <psapi.h>

#include <fcntl.h>
#include <io.h>
#include <malloc.h>

#include <cstdio>
#include <vector>

namespace platform {

void use_byte_mode_standard_streams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

bool stdin_is_console() {
    // GetConsoleMode succeeds only on a console handle: false for pipes and
    // files, which is how a manager starts the engine.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

std::string executable_path() {
    // GetModuleFileNameW truncates silently to the buffer it is given and then
    // reports a full buffer, so grow it until the path fits. Wide paths reach
    // 32,767 characters (the \\?\ form), beyond MAX_PATH.
    std::vector<wchar_t> wide(MAX_PATH);
    DWORD length = 0;
    for (;;) {
        length = GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
        if (length == 0) return {};
        if (length < wide.size()) break;
        wide.resize(wide.size() * 2);
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string path(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(length), path.data(), bytes, nullptr, nullptr);
    return path;
}

std::optional<std::uint64_t> resident_memory_bytes() {
    // The working set is what Task Manager shows and what tournament judges
    // read as the engine's memory.
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return std::nullopt;
    return static_cast<std::uint64_t>(counters.WorkingSetSize);
}

void return_freed_memory() {
    // Releases the C library heap's free blocks; large blocks were never in
    // it (the heap maps them separately and unmaps them on free).
    _heapmin();
}

void exit_process(int status) {
    std::fflush(stdout);
    // TerminateProcess, unlike ExitProcess, runs no DLL or thread-local
    // teardown while the worker may still hold the heap or the player.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    ExitProcess(static_cast<UINT>(status));  // not reached: TerminateProcess on ourselves does not return
}

}  // namespace platform
