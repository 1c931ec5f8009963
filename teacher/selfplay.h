// Self-play data generation: the teacher plays itself from random compact openings, sampling
// among its safe moves for the first few moves, and every position where it moved becomes a
// training record (record_file.h). Games are grouped in chunk files; a chunk is written to
// "<name>.part" one whole game at a time and renamed when complete, so a stopped run resumes
// where it left off. Workers of one run take disjoint chunks (chunk % workers == worker).
//
// A student (for example a network's policy) may play some of the moves instead of the teacher,
// so that the records cover the positions the student's own mistakes lead to while the labels stay
// the teacher's: the teacher still chooses a move in every recorded position and punishes the
// student's slips with its threat search.
//
// Threads: single-threaded; run one process per core for more throughput.
#pragma once

#include "teacher/player.h"
#include "teacher/record_file.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace teacher {

/// The student's move for the side to move on `board` (an empty board cell), or -1 to leave the
/// move to the teacher. Called from the generating thread only; must be deterministic for a run
/// to resume to the same games.
using StudentMove = std::function<int(const Board& board, Color to_move)>;

struct SelfPlayOptions {
    std::string out_dir = "selfplay-data";
    int chunks = 1000;           // chunk numbers 0 .. chunks-1 make up the run
    int worker = 0;
    int workers = 1;
    int games_per_chunk = 20;
    int64_t nodes_per_move = 20000;
    uint64_t seed = 1;
    int board_side = kRecordSide;  // every game of the run is played on this square board
    int min_opening_stones = 1;
    int max_opening_stones = 6;
    int opening_radius = 3;      // opening stones lie within this of a point near the centre
    int max_sampled_moves = 8;   // each game samples its first 0..this many teacher moves
    // After the sampled moves, each quiet teacher move is replaced by the student's with this
    // probability (never a forced win or a defence: those decide the game's result).
    double student_rate = 0.0;
    StudentMove student;
};

/// Plays game `game` of chunk `chunk` (the pair fixes the random seed) and returns its records.
std::vector<PositionRecord> play_selfplay_game(Teacher& teacher, const SelfPlayOptions& options, int chunk,
                                               int game);

/// Plays (or finishes) one chunk file; returns the number of records in it, -1 on an I/O error.
int64_t run_chunk(Teacher& teacher, const SelfPlayOptions& options, int chunk);

/// "selfplay --out DIR [--chunks N] [--worker I --workers K] [--games-per-chunk G]
/// [--nodes N] [--seed S] [--max-sampled-moves M] [--student-rate R] [--board-side N]": runs this worker's
/// chunks, skipping those already complete. `--student-rate` needs a `student`.
int selfplay_main(int argc, char** argv, StudentMove student = {});

}  // namespace teacher
