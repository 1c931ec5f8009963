// The teacher plays with the threat library's board, patterns and solver; it names them as its own.
#pragma once

#include "threat/board.h"
#include "threat/budget.h"
#include "threat/patterns.h"
#include "threat/threat_search.h"

namespace teacher {
using namespace threat;
}  // namespace teacher
