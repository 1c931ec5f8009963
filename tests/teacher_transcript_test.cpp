// The teacher end to end: each file in tests/data/teacher_transcripts is sent to the real
// orvalis-teacher executable through a pipe, in the engine's transcript format (see
// transcript_test.cpp): "> line" sent, "< line" expected exactly, "<~ regex" expected as a
// pattern, "@ exit N" the exit status once input has ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "engine_process.h"
#include "expected_output.h"

namespace {

namespace fs = std::filesystem;

const fs::path kTranscripts = fs::path(ORVALIS_TEST_DATA) / "teacher_transcripts";

using test_support::expected_line;

struct transcript {
    std::string input;
    std::vector<expected_line> output;
    int exit_status = 0;
};

transcript load(const fs::path& file) {
    transcript t;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("> ", 0) == 0 || line == ">") t.input += line.substr(std::min<std::size_t>(2, line.size())) + "\n";
        else if (line.rfind("<~ ", 0) == 0) t.output.push_back({line.substr(3), true});
        else if (line.rfind("< ", 0) == 0) t.output.push_back({line.substr(2), false});
        else if (line.rfind("@ exit ", 0) == 0) t.exit_status = std::stoi(line.substr(7));
    }
    return t;
}

std::vector<std::string> transcript_names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kTranscripts))
        if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

class TeacherTranscript : public ::testing::TestWithParam<std::string> {};

TEST_P(TeacherTranscript, TeacherOutputMatches) {
    const transcript t = load(kTranscripts / (GetParam() + ".txt"));
    const auto run = test_support::run_engine(ORVALIS_TEACHER_PATH, t.input);
    SCOPED_TRACE("teacher output:\n" + run.output);
    test_support::expect_output(run, t.output, t.exit_status);
}

INSTANTIATE_TEST_SUITE_P(Teacher, TeacherTranscript, ::testing::ValuesIn(transcript_names()),
                         [](const auto& info) { return info.param; });

}  // namespace
