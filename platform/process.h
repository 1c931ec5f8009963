// Operating-system services the front-end needs, behind one small interface.
// Implementations: process_linux.cpp and process_windows.cpp, chosen by the
// build (platform/CMakeLists.txt). Paths are UTF-8 strings on both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

/// The platform's path separator.
#ifdef _WIN32
inline constexpr char path_separator = '\\';
#else
inline constexpr char path_separator = '/';
#endif

/// Puts standard input and output into byte mode, so that the replies are the
/// same bytes on every system (Windows' C library would otherwise write "\r\n"
/// for "\n" and end input at a Ctrl-Z byte; the line reader drops a "\r"
/// before the newline itself). Main thread, once, before any input or output.
void use_byte_mode_standard_streams();

/// True when standard input is an interactive console rather than a pipe.
bool stdin_is_console();

/// Full path of the running executable, in UTF-8 whatever its length; empty
/// when the system cannot say.
std::string executable_path();

/// Everything before the last separator of `path` (no trailing separator);
/// empty when there is none.
std::string parent_folder(std::string_view path);

/// `folder`, the separator, then `relative` (written with '/') with its '/'
/// turned into the platform's separator.
std::string join_path(std::string_view folder, std::string_view relative);

/// Memory of the process that a tournament judge counts (resident set on
/// Linux, working set on Windows), in bytes; nothing when unobtainable.
std::optional<std::uint64_t> resident_memory_bytes();

/// Hands memory that the process has freed back to the system (the C
/// library may keep freed heap memory for reuse, where it still counts as the
/// process's own). Takes a few milliseconds after a large tree was freed.
/// Any thread.
void return_freed_memory();

/// Flushes standard output and ends the process with `status` at once,
/// without running static destructors: the worker thread may still be using
/// the player and the profile timer.
[[noreturn]] void exit_process(int status);

}  // namespace platform
