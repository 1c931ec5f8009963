// Picks the runner for a kernel path.
#pragma once

#include <memory>

#include "qvr/kernel_path.h"
#include "qvr/runner.h"

namespace qvr {

/// `path` is a concrete path (not automatic) that this CPU supports.
std::unique_ptr<Runner> make_runner(ModelGraph graph, std::vector<TShape> shapes, KernelPath path);

}  // namespace qvr
