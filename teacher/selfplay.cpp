#include "teacher/selfplay.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

namespace teacher {
namespace {

// Sampling weight of a safe move: exp(-(best score - score) / temperature), the temperature
// a share of the best score so that it scales with how sharp the position is. Hand-set so that
// a move worth 80% of the best is chosen about a third as often as the best.
constexpr double kTemperatureShare = 0.2;
constexpr double kMinimumTemperature = 5.0;
// An opening stone lies within this (king steps) of an earlier one, as a manager's openings do.
constexpr int kOpeningLink = 2;
// Spread of the opening's centre around the board's centre.
constexpr int kCentreJitter = 2;

uint64_t mix(uint64_t value) {  // splitmix64 finaliser: decorrelates neighbouring seeds
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

std::string chunk_path(const SelfPlayOptions& options, int chunk) {
    char name[64];
    std::snprintf(name, sizeof name, "chunk-%06d.bin", chunk);
    return (std::filesystem::path(options.out_dir) / name).string();
}

void place_opening(Board& board, std::mt19937_64& rng, const SelfPlayOptions& options) {
    std::uniform_int_distribution<int> count_dist(options.min_opening_stones, options.max_opening_stones);
    std::uniform_int_distribution<int> jitter(-kCentreJitter, kCentreJitter);
    const int stones = count_dist(rng);
    const int cx = board.width() / 2 + jitter(rng);
    const int cy = board.height() / 2 + jitter(rng);
    std::vector<int> placed;
    for (int n = 0; n < stones; ++n) {
        std::vector<int> choices;
        for (int y = cy - options.opening_radius; y <= cy + options.opening_radius; ++y) {
            for (int x = cx - options.opening_radius; x <= cx + options.opening_radius; ++x) {
                if (!board.on_board(x, y) || !board.empty(to_index(x, y))) continue;
                bool linked = placed.empty();
                for (int p : placed) {
                    linked = linked || (std::abs(column_of(p) - x) <= kOpeningLink &&
                                        std::abs(row_of(p) - y) <= kOpeningLink);
                }
                if (linked) choices.push_back(to_index(x, y));
            }
        }
        if (choices.empty()) break;
        const int cell = choices[std::uniform_int_distribution<size_t>(0, choices.size() - 1)(rng)];
        board.place(cell, n % 2 == 0 ? kBlack : kWhite);
        placed.push_back(cell);
    }
}

int sample_safe_move(const std::vector<ScoredMove>& safe, std::mt19937_64& rng) {
    const double best = safe.front().score;
    const double temperature = std::max(kMinimumTemperature, std::abs(best) * kTemperatureShare);
    std::vector<double> weights;
    for (const ScoredMove& move : safe) weights.push_back(std::exp((move.score - best) / temperature));
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
    return safe[pick(rng)].index;
}

}  // namespace

std::vector<PositionRecord> play_selfplay_game(Teacher& teacher, const SelfPlayOptions& options, int chunk,
                                               int game) {
    std::mt19937_64 rng(mix(mix(options.seed) ^ (static_cast<uint64_t>(chunk) << 20) ^ static_cast<uint64_t>(game)));
    Board board(options.board_side, options.board_side);
    place_opening(board, rng, options);
    const int sampled_moves = std::uniform_int_distribution<int>(0, options.max_sampled_moves)(rng);

    std::vector<PositionRecord> records;
    std::vector<Color> movers;
    Color to_move = board.stone_count() % 2 == 0 ? kBlack : kWhite;
    int winner = -1;  // colour index, -1 for a draw
    ThinkLimits limits;
    limits.max_nodes = options.nodes_per_move;
    for (int move_number = 0; board.stone_count() < board.width() * board.height(); ++move_number) {
        const MoveChoice choice = teacher.choose(board, to_move, limits);
        PositionRecord record = encode_position(board, to_move);
        record.move = static_cast<uint16_t>(record_cell(choice.index));
        record.game = static_cast<uint16_t>(game);
        if (choice.reason == MoveReason::kWinByFours || choice.reason == MoveReason::kFive) {
            record.flags |= kFlagProvenWin;
        }
        if (choice.reason == MoveReason::kDefence || choice.reason == MoveReason::kBlockFive) {
            record.flags |= kFlagDefence;
        }
        int played = choice.index;
        if (move_number < sampled_moves && choice.reason == MoveReason::kQuiet && choice.safe_moves.size() > 1) {
            played = sample_safe_move(choice.safe_moves, rng);
            if (played != choice.index) record.flags |= kFlagSampled;
        } else if (options.student && choice.reason == MoveReason::kQuiet &&
                   std::uniform_real_distribution<double>(0.0, 1.0)(rng) < options.student_rate) {
            const int proposed = options.student(board, to_move);
            if (proposed >= 0 && proposed < kCells && board.at(proposed) == Cell::kEmpty &&
                proposed != choice.index) {
                played = proposed;
                record.flags |= kFlagStudent;
            }
        }
        records.push_back(record);
        movers.push_back(to_move);
        const bool five = cell_threat(board, to_move, played).makes_five();
        board.place(played, to_move);
        if (five) {
            winner = to_move;
            break;
        }
        to_move = other(to_move);
    }
    for (size_t i = 0; i < records.size(); ++i) {
        records[i].value = static_cast<int8_t>(winner < 0 ? 0 : (movers[i] == winner ? 1 : -1));
    }
    return records;
}

int64_t run_chunk(Teacher& teacher, const SelfPlayOptions& options, int chunk) {
    const std::string final_path = chunk_path(options, chunk);
    const std::string part_path = final_path + ".part";
    std::vector<PositionRecord> records;
    if (read_record_file(final_path, &records, options.board_side)) return static_cast<int64_t>(records.size());

    // Resume: keep the games before the last one in the part file (the last may be torn).
    int first_game = 0;
    if (read_record_file(part_path, &records, options.board_side) && !records.empty()) {
        first_game = records.back().game;
        while (!records.empty() && records.back().game == first_game) records.pop_back();
    } else {
        records.clear();
    }
    if (!write_record_file(part_path, records, options.board_side)) return -1;

    struct FileCloser {
        void operator()(FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<FILE, FileCloser> file(std::fopen(part_path.c_str(), "ab"));
    if (!file) return -1;
    for (int game = first_game; game < options.games_per_chunk; ++game) {
        const std::vector<PositionRecord> game_records = play_selfplay_game(teacher, options, chunk, game);
        for (const PositionRecord& record : game_records) {
            const auto bytes = serialize(record);
            if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return -1;
        }
        if (std::fflush(file.get()) != 0) return -1;
        records.insert(records.end(), game_records.begin(), game_records.end());
    }
    file.reset();
    std::error_code error;
    std::filesystem::rename(part_path, final_path, error);
    if (error) return -1;
    return static_cast<int64_t>(records.size());
}

int selfplay_main(int argc, char** argv, StudentMove student) {
    SelfPlayOptions options;
    options.student = std::move(student);
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (i + 1 >= argc) {
            std::cerr << "missing value after " << key << "\n";
            return 2;
        }
        const std::string value = argv[++i];
        // std::sto* throw on text that is not a number or does not fit; a typo is a usage error.
        try {
            if (key == "--out") options.out_dir = value;
            else if (key == "--chunks") options.chunks = std::stoi(value);
            else if (key == "--worker") options.worker = std::stoi(value);
            else if (key == "--workers") options.workers = std::stoi(value);
            else if (key == "--games-per-chunk") options.games_per_chunk = std::stoi(value);
            else if (key == "--nodes") options.nodes_per_move = std::stoll(value);
            else if (key == "--seed") options.seed = std::stoull(value);
            else if (key == "--max-sampled-moves") options.max_sampled_moves = std::stoi(value);
            else if (key == "--student-rate") options.student_rate = std::stod(value);
            else if (key == "--board-side") options.board_side = std::stoi(value);
            else {
                std::cerr << "unknown option " << key
                          << "\nusage: orvalis-teacher selfplay --out DIR [--chunks N] [--worker I --workers K]"
                             " [--games-per-chunk G] [--nodes N] [--seed S] [--max-sampled-moves M]"
                             " [--student-rate R] [--board-side N]\n";
                return 2;
            }
        } catch (const std::logic_error&) {
            std::cerr << "bad value for " << key << ": " << value << "\n";
            return 2;
        }
    }
    if (options.workers < 1 || options.worker < 0 || options.worker >= options.workers ||
        options.games_per_chunk < 1 || options.games_per_chunk > 65535) {
        std::cerr << "bad --worker/--workers/--games-per-chunk\n";
        return 2;
    }
    if (options.board_side < kMinRecordBoardSide || options.board_side > kRecordSide) {
        std::cerr << "--board-side must lie in [" << kMinRecordBoardSide << ", " << kRecordSide << "]\n";
        return 2;
    }
    if (!(options.student_rate >= 0.0 && options.student_rate <= 1.0) ||
        (options.student_rate > 0.0 && !options.student)) {
        std::cerr << "--student-rate must lie in [0, 1] and needs a student (orvalis-selfplay teach)\n";
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(options.out_dir, error);
    if (error) {
        std::cerr << "cannot create " << options.out_dir << ": " << error.message() << "\n";
        return 1;
    }
    auto teacher = std::make_unique<Teacher>();
    for (int chunk = options.worker; chunk < options.chunks; chunk += options.workers) {
        const auto start = std::chrono::steady_clock::now();
        const bool was_done = std::filesystem::exists(chunk_path(options, chunk));
        const int64_t positions = run_chunk(*teacher, options, chunk);
        if (positions < 0) {
            std::cerr << "chunk " << chunk << ": write failed\n";
            return 1;
        }
        if (was_done) continue;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cerr << "chunk " << chunk << ": " << positions << " positions in " << seconds << " s ("
                  << positions / std::max(seconds, 1e-9) << " positions/s)\n";
    }
    return 0;
}

}  // namespace teacher
