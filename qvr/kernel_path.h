// Which implementation runs a loaded model.
//
//   reference  the direct interpreter (reference_runner.cpp), any CPU
//   generic    Winograd fast runner on plain C++ kernels, any CPU
//   avx2       fast runner on AVX2+FMA kernels
//   avx512     fast runner on AVX-512F kernels
//
// Normal use asks for `automatic`: the best path this CPU supports. Tests and
// benchmarks force a path through the load option "kernels=<name>".
//
// Free functions without state: safe on any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr {

enum class KernelPath { automatic, reference, generic, avx2, avx512 };

const char* kernel_path_name(KernelPath path);
std::optional<KernelPath> parse_kernel_path(const std::string& name);

/// Whether this CPU can run `path` (automatic, reference and generic always can).
bool cpu_supports(KernelPath path);

/// `automatic` resolved to the fastest path this CPU supports; other paths unchanged.
KernelPath resolve_kernel_path(KernelPath requested);

/// Every concrete path this CPU can run, slowest first.
std::vector<KernelPath> supported_kernel_paths();

}  // namespace qvr
