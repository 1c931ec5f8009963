// Where a think's time goes: inside the evaluator or outside it (the search's
// own work, the threat solver included), in each search mode, over a file of
// positions (the tactics suite's format), read from the process's
// profile_timer as the engine's checkpoints 0 and 1 record them.
#pragma once

#include <cstdint>
#include <string>

#include "eval/evaluator.h"

namespace bench {

/// Searches each position of `path` for `playouts` playouts in steps of 20,
/// with a think time of `think_ms` for the root solver, once per mode, and
/// prints the split. With `playouts` 0 each search is a think of the engine's:
/// steps until the front-end's stop rules end it, under the turn time that
/// plans think_ms. Returns false when the file cannot be read.
bool profile_thinks(eval::Evaluator* evaluator, const std::string& path, std::int32_t playouts, std::int32_t think_ms);

}  // namespace bench
