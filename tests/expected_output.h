// What a transcript expects a program to write, and the check of a run
// against it; shared by the engine's and the teacher's transcript tests.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "engine_process.h"

namespace test_support {

struct expected_line {
    std::string text;
    bool pattern = false;  // `text` is a regular expression the whole line must match
};

/// Every output line of `run` against `expected`, in order, then the exit status.
inline void expect_output(const engine_run& run, const std::vector<expected_line>& expected, int exit_status) {
    ASSERT_EQ(run.output_lines.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].pattern)
            EXPECT_TRUE(std::regex_match(run.output_lines[i], std::regex(expected[i].text)))
                << "line " << i + 1 << ": " << run.output_lines[i] << " !~ " << expected[i].text;
        else
            EXPECT_EQ(run.output_lines[i], expected[i].text) << "line " << i + 1;
    }
    EXPECT_EQ(run.exit_status, exit_status);
}

}  // namespace test_support
