// The load-time check behind the automatic choice of an int16 path: the
// low-precision runner must give the float32 runner's outputs, within
// `precision_check_tolerance`, on a few fixed inputs (0/1 planes, as game
// positions are). A network whose activations span too wide a range for
// 16-bit fixed point fails it and runs in float32 instead.
//
// Free function without state: safe on any thread (each call owns its runners).
#pragma once

#include <vector>

#include "qvr/model_graph.h"
#include "qvr/runner.h"

namespace qvr {

/// Largest difference allowed on any output: the accuracy bound the int16
/// paths were held to on real positions (mean value difference <= 0.01;
/// measured on the shipped network, 10,000 positions: mean 0.0003, largest
/// 0.004).
inline constexpr float precision_check_tolerance = 0.01f;

/// Whether `low` and `exact` (runners of the same checked graph) agree on
/// every output of 8 fixed inputs.
bool low_precision_agrees(const ModelGraph& graph, Runner& low, Runner& exact);

}  // namespace qvr
