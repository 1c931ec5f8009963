#include "tools/bench/resident_memory.h"

#include <fstream>
#include <sstream>
#include <string>

namespace bench {

std::int64_t resident_bytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) != 0) continue;
        std::istringstream fields(line.substr(6));
        std::int64_t kilobytes = 0;
        fields >> kilobytes;
        return kilobytes * 1024;
    }
    return 0;
}

}  // namespace bench
