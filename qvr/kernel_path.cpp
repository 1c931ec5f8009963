#include "qvr/kernel_path.h"

namespace qvr {

const char* kernel_path_name(KernelPath path) {
    switch (path) {
        case KernelPath::automatic: return "auto";
        case KernelPath::reference: return "reference";
        case KernelPath::generic: return "generic";
        case KernelPath::avx2: return "avx2";
        case KernelPath::avx512: return "avx512";
    }
    return "unknown";
}

std::optional<KernelPath> parse_kernel_path(const std::string& name) {
    for (KernelPath path : {KernelPath::automatic, KernelPath::reference, KernelPath::generic, KernelPath::avx2,
                            KernelPath::avx512})
        if (name == kernel_path_name(path)) return path;
    return std::nullopt;
}

bool cpu_supports(KernelPath path) {
#if defined(__x86_64__)
    switch (path) {
        case KernelPath::avx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        case KernelPath::avx512: return __builtin_cpu_supports("avx512f");
        default: return true;
    }
#else
    return path != KernelPath::avx2 && path != KernelPath::avx512;
#endif
}

KernelPath resolve_kernel_path(KernelPath requested) {
    if (requested != KernelPath::automatic) return requested;
    for (KernelPath path : {KernelPath::avx512, KernelPath::avx2})
        if (cpu_supports(path)) return path;
    return KernelPath::generic;
}

std::vector<KernelPath> supported_kernel_paths() {
    std::vector<KernelPath> paths;
    for (KernelPath path : {KernelPath::reference, KernelPath::generic, KernelPath::avx2, KernelPath::avx512})
        if (cpu_supports(path)) paths.push_back(path);
    return paths;
}

}  // namespace qvr
