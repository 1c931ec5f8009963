// orvalis-selfplay: the engine's network playing itself, for training data
// (root visit distributions and results) and for gating a new network
// against the current one at a fixed playout count.
//
//   orvalis-selfplay generate --model PATH --out DIR [--chunks N] [--games-per-chunk G]
//        [--playouts P] [--sampled-moves K] [--seed S] [--worker I --workers W]
//        [--mode plain|threat] [--opening-stones MIN-MAX] [--small-boards PERCENT]
//        [--max-plies N] [--kernels NAME]
//   orvalis-selfplay match --model-a PATH --model-b PATH [--games N] [--playouts P]
//        [--sampled-moves K] [--seed S] [--mode plain|threat] [--opening-stones MIN-MAX] [--kernels NAME]
//   orvalis-selfplay teach --model PATH --student-rate R <orvalis-teacher selfplay options>
//
// generate writes chunk-NNNNNN.bin files of version-3 records (training/DATA.md);
// a chunk is written to a .part file and renamed when complete, and a rerun of
// the same command skips complete chunks and replays an unfinished one.
// match plays colour-swapped pairs from random openings and prints the score
// of A with a 95% interval.
// --kernels forces the network's inference path (e.g. generic): the fastest path differs between
// CPUs and rounds differently, so only a forced path replays a seed's games on another machine.
// teach is the teacher's self-play (version-1 records, the teacher's move as the target in every
// position) with the network's raw policy playing a share R of the quiet moves.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "eval/qvr_evaluator.h"
#include "tools/selfplay/network_game.h"
#include "tools/selfplay/network_student.h"
#include "tools/selfplay/visit_records.h"
#include "teacher/selfplay.h"

namespace {

using selfplay::game_options;

struct command_line {
    std::string mode;
    std::map<std::string, std::string> values;

    std::string text(const std::string& key, const std::string& fallback = "") const {
        const auto found = values.find(key);
        return found == values.end() ? fallback : found->second;
    }
    long number(const std::string& key, long fallback) const {
        const auto found = values.find(key);
        return found == values.end() ? fallback : std::strtol(found->second.c_str(), nullptr, 10);
    }
};

[[noreturn]] void usage() {
    std::fputs("usage: orvalis-selfplay generate --model PATH --out DIR [--chunks N] [--games-per-chunk G]\n"
               "           [--playouts P] [--sampled-moves K] [--seed S] [--worker I --workers W]\n"
               "           [--mode plain|threat] [--opening-stones MIN-MAX] [--small-boards PERCENT]\n"
               "           [--max-plies N] [--kernels NAME]\n"
               "       orvalis-selfplay match --model-a PATH --model-b PATH [--games N] [--playouts P]\n"
               "           [--sampled-moves K] [--seed S] [--mode plain|threat] [--opening-stones MIN-MAX]\n"
               "           [--kernels NAME]\n"
               "       orvalis-selfplay teach --model PATH --student-rate R --out DIR [--chunks N] [--nodes N]\n"
               "           [--games-per-chunk G] [--seed S] [--worker I --workers K] [--max-sampled-moves M]\n",
               stderr);
    std::exit(2);
}

command_line parse(int argc, char** argv) {
    if (argc < 2) usage();
    command_line parsed{argv[1], {}};
    for (int i = 2; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag.rfind("--", 0) != 0 || i + 1 >= argc) usage();
        parsed.values[flag.substr(2)] = argv[++i];
    }
    return parsed;
}

game_options options_from(const command_line& args, int default_sampled_moves, bool root_noise) {
    game_options options;
    options.playouts = static_cast<std::int32_t>(args.number("playouts", options.playouts));
    options.sampled_moves = static_cast<int>(args.number("sampled-moves", default_sampled_moves));
    options.root_noise = root_noise;
    options.max_plies = static_cast<int>(args.number("max-plies", 0));
    if (options.max_plies < 0) usage();
    const auto mode = search::mode_named(args.text("mode", "plain"));
    if (!mode) usage();
    options.mode = *mode;
    if (const std::string stones = args.text("opening-stones"); !stones.empty()) {
        int low = -1, high = -1;
        if (std::sscanf(stones.c_str(), "%d-%d", &low, &high) != 2 || low < 0 || high < low || high > 20) usage();
        options.min_opening_stones = low;
        options.max_opening_stones = high;
    }
    return options;
}

std::unique_ptr<eval::Evaluator> load(const std::string& path, const std::string& kernels = "") {
    if (path.empty()) usage();
    return std::make_unique<eval::QvrEvaluator>("orvalis", path, kernels);
}

std::uint64_t mix(std::uint64_t value) {  // splitmix64: decorrelates neighbouring seeds
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

int generate(const command_line& args) {
    const auto evaluator = load(args.text("model"), args.text("kernels"));
    const std::filesystem::path out = args.text("out");
    if (out.empty()) usage();
    std::filesystem::create_directories(out);
    const game_options options = options_from(args, 8, true);
    const long chunks = args.number("chunks", 100), games = args.number("games-per-chunk", 20);
    const long worker = args.number("worker", 0), workers = args.number("workers", 1);
    const std::uint64_t seed = static_cast<std::uint64_t>(args.number("seed", 1));
    const long small_percent = args.number("small-boards", 0);
    if (small_percent < 0 || small_percent > 100) usage();

    for (long chunk = worker; chunk < chunks; chunk += workers) {
        char name[64];
        std::snprintf(name, sizeof name, "chunk-%06ld.bin", chunk);
        const std::filesystem::path final_path = out / name;
        if (selfplay::count_visit_records(final_path.string()) >= 0) continue;  // done earlier
        const std::filesystem::path part_path = final_path.string() + ".part";

        const auto started = std::chrono::steady_clock::now();
        std::ofstream file(part_path, std::ios::binary | std::ios::trunc);
        const auto header = selfplay::visit_file_header();
        file.write(reinterpret_cast<const char*>(header.data()), header.size());
        long positions = 0;
        for (long game = 0; game < games; ++game) {
            std::mt19937_64 rng(mix(mix(seed) ^ (static_cast<std::uint64_t>(chunk) << 20) ^ static_cast<std::uint64_t>(game)));
            // The game's searches draw from the same seed, and start from a
            // cache of their own (hits are not counted as playouts, so a
            // warm cache changes the trees): a resumed run plays the same games.
            game_options seeded = options;
            if (small_percent > 0) {  // drawn apart from the games' own stream, so 0 keeps old runs' games
                std::mt19937_64 size_rng(mix(rng()));
                if (static_cast<long>(size_rng() % 100) < small_percent) {
                    seeded.width = seeded.height = selfplay::small_board_side(size_rng);
                }
            }
            const auto opening = selfplay::random_opening(seeded, rng);
            seeded.search_seed = rng() | 1;
            search::evaluation_cache cache;
            const selfplay::network_player player{*evaluator, cache};
            auto outcome = selfplay::play_network_game(player, player, opening, seeded, true);
            for (auto& entry : outcome.records) {
                entry.game = static_cast<std::uint16_t>(game);
                const auto bytes = selfplay::serialize(entry);
                file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            }
            positions += static_cast<long>(outcome.records.size());
        }
        file.close();
        if (!file) {
            std::fprintf(stderr, "chunk %ld: write failed\n", chunk);
            return 1;
        }
        std::filesystem::rename(part_path, final_path);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("chunk %ld: %ld positions in %.1f s (%.1f positions/s)\n", chunk, positions, seconds,
                    positions / seconds);
        std::fflush(stdout);
    }
    return 0;
}

int match(const command_line& args) {
    const auto model_a = load(args.text("model-a"), args.text("kernels"));
    const auto model_b = load(args.text("model-b"), args.text("kernels"));
    const game_options options = options_from(args, 4, false);
    const long pairs = (args.number("games", 100) + 1) / 2;
    std::mt19937_64 rng(mix(static_cast<std::uint64_t>(args.number("seed", 1))));
    // The searches' seeds come from a stream of their own, so the openings
    // stay those of earlier runs with the same --seed.
    std::mt19937_64 search_rng(mix(mix(static_cast<std::uint64_t>(args.number("seed", 1)))));

    // Each network keeps its own cache: a shared one would hand one
    // network's values to the other whenever they meet the same position.
    search::evaluation_cache cache_a, cache_b;
    const selfplay::network_player player_a{*model_a, cache_a}, player_b{*model_b, cache_b};
    double score = 0, squares = 0;
    long wins = 0, draws = 0, losses = 0, played = 0;
    for (long pair = 0; pair < pairs; ++pair) {
        const auto opening = selfplay::random_opening(options, rng);
        for (int a_is_black = 1; a_is_black >= 0; --a_is_black) {
            game_options seeded = options;
            seeded.search_seed = search_rng() | 1;
            const selfplay::network_player& black = a_is_black ? player_a : player_b;
            const selfplay::network_player& white = a_is_black ? player_b : player_a;
            const auto outcome = selfplay::play_network_game(black, white, opening, seeded, false);
            const int a_colour = a_is_black ? play::black : play::white;
            const double result = outcome.winner == 0 ? 0.5 : (outcome.winner == a_colour ? 1.0 : 0.0);
            (result == 1.0 ? wins : result == 0.5 ? draws : losses) += 1;
            score += result;
            squares += result * result;
            ++played;
        }
        const double mean = score / played;
        const double deviation = std::sqrt(std::max(0.0, squares / played - mean * mean) / played);
        std::printf("games %ld  A: W %ld D %ld L %ld  score %.3f +/- %.3f\n", played, wins, draws, losses, mean,
                    1.96 * deviation);
        std::fflush(stdout);
    }
    return 0;
}

// Hands every option but --model to the teacher's self-play, with the network as its student.
int teach(int argc, char** argv) {
    std::string model_path;
    std::vector<char*> teacher_args{argv[1]};
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--model" && i + 1 < argc) {
            model_path = argv[++i];
        } else {
            teacher_args.push_back(argv[i]);
        }
    }
    auto student = std::make_shared<selfplay::network_student>(load(model_path));
    return teacher::selfplay_main(static_cast<int>(teacher_args.size()), teacher_args.data(),
                                  [student](const teacher::Board& board, teacher::Color to_move) {
                                      return student->choose(board, to_move);
                                  });
}

}  // namespace

int main(int argc, char** argv) {
    try {
        // teach passes its options through to the teacher's parser, so it skips ours.
        if (argc > 1 && std::string(argv[1]) == "teach") return teach(argc, argv);
        const command_line args = parse(argc, argv);
        if (args.mode == "generate") return generate(args);
        if (args.mode == "match") return match(args);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvalis-selfplay: %s\n", error.what());
        return 1;
    }
    usage();
}
