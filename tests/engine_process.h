// Runs the real engine executable as a manager would: input through a pipe
// (or a pseudo-terminal), output collected through a pipe.
#pragma once

#include <string>
#include <vector>

namespace test_support {

struct engine_run {
    std::vector<std::string> output_lines;
    std::string output;   // everything written to stdout
    int exit_status = -1; // -1: killed after the time limit or did not exit normally
};

/// Starts `executable`, writes `input` to its standard input and closes it,
/// then collects standard output until the process ends (killing it after
/// `time_limit_seconds`). A non-empty `launcher` (a program found on PATH,
/// such as wine) is started instead, with `executable` as its argument.
engine_run run_engine(const std::string& executable, const std::string& input, double time_limit_seconds = 60,
                      const std::string& launcher = {});

/// The same with standard input on a pseudo-terminal, as when a person starts
/// the engine by hand. `input` should end the process itself (END).
engine_run run_engine_on_terminal(const std::string& executable, const std::string& input,
                                  double time_limit_seconds = 60, const std::string& launcher = {});

}  // namespace test_support
