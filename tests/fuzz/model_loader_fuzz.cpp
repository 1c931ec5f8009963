// libFuzzer target: the engine's model loading, fed damaged model files.
//
// Each input is written to a scratch file and loaded the way a player loads
// its network: eval::QvrEvaluator over qvr::ModelBase (file reader, graph
// checks, runner set-up). A file that loads is then run on two positions, so
// a model that the checks let through must also be safe to run.
//
// The only acceptable failures are the typed ones the engine turns into an
// "ERROR ..." reply: qvr::Error kinds and eval::ModelMismatch. Any other
// exception escapes and libFuzzer reports it, as it does crashes, hangs,
// sanitizer findings and allocations beyond -rss_limit_mb / -malloc_limit_mb.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "eval/qvr_evaluator.h"
#include "play/board_state.h"
#include "qvr/errors.h"

namespace {

/// One scratch file per fuzzing process, rewritten for every input.
const std::string& scratch_path() {
    static const std::string path = [] {
        std::string pattern = "/tmp/orvalis-model-fuzz-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) std::abort();
        close(fd);
        return pattern;
    }();
    return path;
}

void write_scratch(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(scratch_path().c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    write_scratch(data, size);
    try {
        eval::QvrEvaluator evaluator("fuzz", scratch_path());
        play::board_state board;
        const auto empty = evaluator.Evaluate({board.cells}, {play::black});
        play::put_stone(board, play::black, play::make_packed_move(9, 9));
        const auto one_stone = evaluator.Evaluate({board.cells, board.cells}, {play::white, play::white});
        if (empty.size() != 1 || one_stone.size() != 2) std::abort();
    } catch (const qvr::Error&) {
    } catch (const eval::ModelMismatch&) {
    }
    return 0;
}
