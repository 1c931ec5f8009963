// The threat solver's speed: searches for forced wins of both sides on the
// bench's fixed positions and on a few tactical ones, with their node rate.
#pragma once

namespace bench {

/// Prints one line per search and the overall nodes a second.
void time_solver();

}  // namespace bench
