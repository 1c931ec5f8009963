#include "platform/process.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {

void use_byte_mode_standard_streams() {}  // POSIX streams have no text mode

bool stdin_is_console() { return isatty(STDIN_FILENO) == 1; }

std::string executable_path() {
    // No fixed length limit: grow the buffer until the link fits.
    std::vector<char> buffer(512);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        if (static_cast<std::size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::uint64_t> resident_memory_bytes() {
    // /proc/self/statm: size resident shared ... in pages. Read with plain
    // system calls: this runs after every search step.
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char text[128];
    const ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length <= 0) return std::nullopt;
    text[length] = '\0';
    unsigned long long total_pages = 0, resident_pages = 0;
    if (std::sscanf(text, "%llu %llu", &total_pages, &resident_pages) != 2) return std::nullopt;
    const long page_size = sysconf(_SC_PAGESIZE);
    if (page_size <= 0) return std::nullopt;
    return static_cast<std::uint64_t>(resident_pages) * static_cast<std::uint64_t>(page_size);
}

void return_freed_memory() { malloc_trim(0); }

void exit_process(int status) {
    std::fflush(stdout);
    _exit(status);
}

}  // namespace platform
