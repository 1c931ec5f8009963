// End-to-end transcripts through the real engine executable and pipes.
//
// Each file in tests/data/transcripts holds, in order:
//   > line      a line sent to the engine (\r stands for a carriage return)
//   >| text     text sent without a line end (only last: input ends mid-line)
//   < line      the next line the engine must write, exactly
//   <~ regex    the next line the engine must write, as a regular expression
//   @ no-model  run a copy of the engine in a folder without models/
//   @ garbage-model    the same, with a text file where the model should be
//   @ truncated-model  the same, with the first 1000 bytes of the shipped model
//   @ unicode-folder   the same, with the shipped model, in a folder whose
//                      name has a space and letters beyond ASCII
//   @ terminal  standard input is a pseudo-terminal
//   @ exit N    the exit status expected once input has ended
// All input is sent at once and then closed; the engine's whole output is
// compared with the expected lines, byte for byte (a "\r" before a line end
// is a mismatch).
//
// The engine is the one this build made, unless ORVALIS_TEST_ENGINE names
// another executable, started through ORVALIS_TEST_LAUNCHER when that is set:
// tests/windows/transcripts.sh runs the Windows build under wine this way.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <cstdlib>
#include <regex>

#include "engine_process.h"
#include "expected_output.h"

namespace {

namespace fs = std::filesystem;

using test_support::expected_line;

struct transcript {
    std::string input;
    std::vector<expected_line> output;
    bool copy_engine = false;  // run a copy in a folder of its own, with the model below
    std::string model;         // there: "" (none), "garbage", "truncated" or "shipped"
    bool unicode_folder = false;
    bool terminal = false;
    int exit_status = 0;
};

std::string unescape(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'r') {
            plain += '\r';
            ++i;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

transcript load(const fs::path& file) {
    transcript t;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(">| ", 0) == 0) t.input += unescape(line.substr(3));
        else if (line.rfind("> ", 0) == 0 || line == ">") t.input += unescape(line.substr(std::min<std::size_t>(2, line.size()))) + "\n";
        else if (line.rfind("<~ ", 0) == 0) t.output.push_back({line.substr(3), true});
        else if (line.rfind("< ", 0) == 0) t.output.push_back({line.substr(2), false});
        else if (line == "@ no-model") t.copy_engine = true;
        else if (line == "@ garbage-model") t.copy_engine = true, t.model = "garbage";
        else if (line == "@ truncated-model") t.copy_engine = true, t.model = "truncated";
        else if (line == "@ unicode-folder") t.copy_engine = true, t.model = "shipped", t.unicode_folder = true;
        else if (line == "@ terminal") t.terminal = true;
        else if (line.rfind("@ exit ", 0) == 0) t.exit_status = std::stoi(line.substr(7));
    }
    return t;
}

std::vector<std::string> transcript_names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(ORVALIS_TEST_DATA) / "transcripts"))
        if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string environment(const char* name, const std::string& otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : otherwise;
}

std::string engine_path() { return environment("ORVALIS_TEST_ENGINE", ORVALIS_ENGINE_PATH); }
std::string engine_launcher() { return environment("ORVALIS_TEST_LAUNCHER", ""); }

/// A copy of the engine in a fresh folder, with no model beside it, a damaged
/// one or the shipped one.
std::string engine_copy(const std::string& name, const std::string& model_kind, bool unicode_folder) {
    // "José 文件" in UTF-8: the engine must find its model under any folder
    // name a user may have (Windows opens such paths only in the UTF-8 code
    // page, which the engine's manifest asks for).
    const std::string label = unicode_folder ? "Jos\xc3\xa9 \xe6\x96\x87\xe4\xbb\xb6-" : "";
    const fs::path folder = fs::temp_directory_path() /
                            fs::path(reinterpret_cast<const char8_t*>(
                                ("orvalis-copy-" + label + name + "-" + std::to_string(getpid())).c_str()));
    fs::create_directories(folder);
    const fs::path copy = folder / fs::path(engine_path()).filename();
    fs::copy_file(engine_path(), copy, fs::copy_options::overwrite_existing);
    if (!model_kind.empty()) {
        const fs::path shipped = fs::path(ORVALIS_SOURCE_DIR) / "models" / "474" / "474_ncnn.qvm";
        const fs::path model = folder / "models" / "474" / "474_ncnn.qvm";
        fs::create_directories(model.parent_path());
        if (model_kind == "shipped") {
            fs::copy_file(shipped, model);
        } else if (model_kind == "garbage") {
            std::ofstream(model, std::ios::binary) << "this is not a network\n";
        } else {
            std::ifstream in(shipped, std::ios::binary);
            std::string head(1000, '\0');
            in.read(head.data(), static_cast<std::streamsize>(head.size()));
            std::ofstream(model, std::ios::binary).write(head.data(), in.gcount());
        }
    }
    return copy.string();
}

class Transcript : public ::testing::TestWithParam<std::string> {};

TEST_P(Transcript, EngineOutputMatches) {
    const transcript t = load(fs::path(ORVALIS_TEST_DATA) / "transcripts" / (GetParam() + ".txt"));
    const std::string engine = t.copy_engine ? engine_copy(GetParam(), t.model, t.unicode_folder) : engine_path();
    const std::string launcher = engine_launcher();
    std::string typed = t.input;
    // wine turns a terminal into its console and sets it raw, where the Enter
    // key arrives as "\r": that is what a person typing there sends.
    if (t.terminal && !launcher.empty()) std::replace(typed.begin(), typed.end(), '\n', '\r');
    const auto run = t.terminal ? test_support::run_engine_on_terminal(engine, typed, 60, launcher)
                                : test_support::run_engine(engine, t.input, 60, launcher);
    if (t.copy_engine) fs::remove_all(fs::path(engine).parent_path());

    SCOPED_TRACE("engine output:\n" + run.output);
    test_support::expect_output(run, t.output, t.exit_status);
}

INSTANTIATE_TEST_SUITE_P(Engine, Transcript, ::testing::ValuesIn(transcript_names()),
                         [](const auto& info) { return info.param; });

}  // namespace
