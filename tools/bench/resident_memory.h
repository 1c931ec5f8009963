// The process's resident memory, from /proc/self/status.
#pragma once

#include <cstdint>

namespace bench {

/// VmRSS in bytes; 0 where it cannot be read.
std::int64_t resident_bytes();

}  // namespace bench
