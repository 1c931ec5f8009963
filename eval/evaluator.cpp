#include "eval/evaluator.h"

namespace eval {

void Evaluator::set_board_size(std::int32_t, std::int32_t) {}

}  // namespace eval
