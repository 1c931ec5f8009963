// orvalis-bench: search speed, memory and a behaviour signature.
//
//   orvalis-bench [--playouts N] [--growth N] [--model PATH [--profile FILE]]
//
// Each fixed position is searched in steps of 20 playouts (as a think does,
// trimming the cache after each step) until N playouts are counted, once in
// the plain mode and once in the threat-aware mode. Each mode's signature is
// the total node count of its trees: with the built-in hashed evaluator it is
// the same in every fresh process, so a change that alters it changes that
// mode's behaviour. The plain mode runs first, on a cold cache, the
// threat-aware mode after the cache is cleared again; the threat solver runs
// on node budgets only (no clock), so its signature is as fixed. Moves are
// never chosen (that draws from a random device), so nothing random reaches
// the signatures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "search/eval_cache.h"
#include "search/search_tree.h"
#include "search/threat_context.h"
#include "search/tree_stats.h"
#include "tools/bench/bench_positions.h"
#include "tools/bench/hashed_evaluator.h"
#include "tools/bench/resident_memory.h"
#include "tools/bench/solver_bench.h"
#include "tools/bench/think_profile.h"

#if __has_include("eval/qvr_evaluator.h")
#include "eval/qvr_evaluator.h"
#define ORVALIS_BENCH_HAS_MODEL 1
#endif

namespace {

using clock_type = std::chrono::steady_clock;

// The think routine's step size: playouts per search_step.
constexpr std::int32_t playouts_per_step = 20;
constexpr std::int32_t default_playouts = 20000;
constexpr std::int32_t default_growth_playouts = 200000;
constexpr int trim_repetitions = 200;

struct options {
    std::int32_t playouts = default_playouts;
    std::int32_t growth_playouts = default_growth_playouts;
    std::string model_path;
    std::string profile_path;
    std::int32_t profile_playouts = 400;
    std::int32_t profile_think_ms = 900;
};

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

[[noreturn]] void usage(int status) {
    std::fprintf(status == 0 ? stdout : stderr,
                 "usage: orvalis-bench [--playouts N] [--growth N] [--model PATH [--profile FILE]]\n"
                 "  --playouts N   playouts per fixed position (default %d)\n"
                 "  --growth N     playouts of the memory-growth run, 0 to skip (default %d)\n"
                 "  --model PATH   search with this model file instead of the hashed stand-in\n"
                 "  --profile FILE with --model: time inside and outside the evaluator over the\n"
                 "                 positions of FILE (tactics suite format), both modes\n"
                 "  --profile-playouts N, --profile-think-ms MS  (default 400, 900); playouts 0:\n"
                 "                 each position thought about as the engine does (stop rules)\n",
                 default_playouts, default_growth_playouts);
    std::exit(status);
}

options parse(int argc, char** argv) {
    options parsed;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") usage(0);
        if (i + 1 >= argc) usage(2);
        const char* value = argv[++i];
        if (flag == "--playouts") {
            parsed.playouts = std::atoi(value);
        } else if (flag == "--growth") {
            parsed.growth_playouts = std::atoi(value);
        } else if (flag == "--model") {
            parsed.model_path = value;
        } else if (flag == "--profile") {
            parsed.profile_path = value;
        } else if (flag == "--profile-playouts") {
            parsed.profile_playouts = std::atoi(value);
        } else if (flag == "--profile-think-ms") {
            parsed.profile_think_ms = std::atoi(value);
        } else {
            usage(2);
        }
    }
    return parsed;
}

std::unique_ptr<eval::Evaluator> make_evaluator(const options& chosen) {
    if (chosen.model_path.empty()) return std::make_unique<bench::hashed_evaluator>();
#ifdef ORVALIS_BENCH_HAS_MODEL
    return std::make_unique<eval::QvrEvaluator>("orvalis", chosen.model_path);
#else
    std::fprintf(stderr, "orvalis-bench: this build has no model evaluator\n");
    std::exit(2);
#endif
}

void grow(search::search_tree& tree, std::int32_t playouts) {
    for (std::int32_t done = 0; done < playouts; done += playouts_per_step) {
        tree.run_playouts(std::min(playouts_per_step, playouts - done));
    }
}

// A think budget far beyond any node cap: the solver's clock never binds.
constexpr std::int32_t unbounded_think_ms = 1'000'000'000;

std::int64_t search_positions(eval::Evaluator* evaluator, std::int32_t playouts, search::search_mode mode) {
    const bool threats = mode == search::search_mode::threat_aware;
    std::printf("\n%s mode\n%-26s %9s %9s %10s %12s %10s %10s", std::string(search::mode_name(mode)).c_str(),
                "position", "playouts", "seconds", "playouts/s", "evaluations/s", "nodes", "edges");
    std::printf(threats ? " %11s %9s %10s\n" : "\n", "leaf checks", "leaf wins", "solver nodes");
    std::int64_t signature = 0;
    for (const bench::bench_position& position : bench::fixed_positions()) {
        bench::counting_evaluator counter(evaluator);
        search::search_tree tree(search::make_root(position.board, position.to_move), &counter, play::board_size,
                                 play::board_size, mode);
        tree.plan_think(unbounded_think_ms);
        const auto start = clock_type::now();
        grow(tree, playouts);
        const double seconds = seconds_since(start);
        const search::tree_counts counts = search::count_tree(tree.root());
        signature += counts.nodes;
        std::printf("%-26s %9d %9.3f %10.0f %12.0f %10lld %10lld", position.name.c_str(), playouts, seconds,
                    playouts / seconds, static_cast<double>(counter.positions) / seconds,
                    static_cast<long long>(counts.nodes), static_cast<long long>(counts.edges));
        if (const search::threat_context* context = tree.threats()) {
            std::printf(" %11lld %9lld %10lld", static_cast<long long>(context->leaf_checks),
                        static_cast<long long>(context->leaf_wins), static_cast<long long>(context->solver_nodes));
        }
        std::printf("\n");
    }
    return signature;
}

// The trim after every step runs on a full cache; time it against the full
// sort it replaces (both give the same threshold).
void time_trim() {
    search::evaluation_cache cache;
    const std::vector<float> array(eval::evaluation_size, 0.0f);
    std::uint64_t key = 0;
    auto top_up = [&] {
        while (cache.size() < search::cache_capacity + playouts_per_step) {
            ++key;
            cache.insert(key * 0x9e3779b97f4a7c15ULL, array.data());
            for (std::uint64_t hit = 0; hit < key % 5; ++hit) cache.hit(key * 0x9e3779b97f4a7c15ULL);
        }
    };
    double trim_seconds = 0.0;
    for (int repetition = 0; repetition < trim_repetitions; ++repetition) {
        top_up();
        const auto start = clock_type::now();
        cache.trim();
        trim_seconds += seconds_since(start);
    }
    std::vector<std::uint32_t> counts(search::cache_capacity + playouts_per_step);
    double sort_seconds = 0.0;
    for (int repetition = 0; repetition < trim_repetitions; ++repetition) {
        for (std::size_t i = 0; i < counts.size(); ++i) counts[i] = static_cast<std::uint32_t>((i * 7919 + repetition) % 5);
        const auto start = clock_type::now();
        std::sort(counts.begin(), counts.end());
        sort_seconds += seconds_since(start);
    }
    std::printf("\ntrim of a full cache (%zu + %d entries): %.1f us per trim (a full sort of the counts alone: %.1f us)\n",
                search::cache_capacity, playouts_per_step, 1e6 * trim_seconds / trim_repetitions,
                1e6 * sort_seconds / trim_repetitions);
}

void memory_growth(eval::Evaluator* evaluator, std::int32_t total_playouts) {
    // From a cold cache, so every counted playout adds one node.
    search::eval_cache.clear();
    const bench::bench_position position = bench::fixed_positions()[1];
    std::printf("\nmemory growth, one tree from the %s, cold cache (its arrays, bounded at about %.1f MB, count in RSS):\n",
                position.name.c_str(),
                static_cast<double>(search::cache_capacity * eval::evaluation_size * sizeof(float)) / 1e6);
    std::printf("%9s %10s %10s %11s %12s %9s %13s %13s %14s\n", "playouts", "nodes", "edges", "edge slots",
                "held arrays", "RSS MB", "RSS growth MB", "records B/node", "growth B/node");
    const std::int64_t rss_before = bench::resident_bytes();
    search::search_tree tree(search::make_root(position.board, position.to_move), evaluator);
    std::int32_t done = 0;
    for (std::int32_t checkpoint = total_playouts / 8; done < total_playouts; checkpoint *= 2) {
        const std::int32_t target = std::min(checkpoint, total_playouts);
        grow(tree, target - done);
        done = target;
        const search::tree_counts counts = search::count_tree(tree.root());
        const std::int64_t rss = bench::resident_bytes();
        // What the records themselves take, before allocator overhead.
        const double record_bytes =
            static_cast<double>(counts.nodes) * sizeof(search::tree_node) +
            static_cast<double>(counts.edge_slots) * sizeof(search::tree_edge) +
            static_cast<double>(counts.held_evaluations) * eval::evaluation_size * sizeof(float);
        std::printf("%9d %10lld %10lld %11lld %12lld %9.1f %13.1f %13.0f %14.0f\n", done,
                    static_cast<long long>(counts.nodes), static_cast<long long>(counts.edges),
                    static_cast<long long>(counts.edge_slots), static_cast<long long>(counts.held_evaluations),
                    rss / 1e6, (rss - rss_before) / 1e6, record_bytes / counts.nodes,
                    static_cast<double>(rss - rss_before) / counts.nodes);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const options chosen = parse(argc, argv);
    std::unique_ptr<eval::Evaluator> evaluator = make_evaluator(chosen);

    std::printf("records: board_state %zu B, tree_node %zu B (+ its edge vector), tree_edge %zu B\n",
                sizeof(play::board_state), sizeof(search::tree_node), sizeof(search::tree_edge));
    std::printf("evaluator: %s\n", chosen.model_path.empty() ? "hashed stand-in (deterministic)" : chosen.model_path.c_str());

    if (!chosen.profile_path.empty()) {
        if (chosen.model_path.empty()) usage(2);
        return bench::profile_thinks(evaluator.get(), chosen.profile_path, chosen.profile_playouts,
                                     chosen.profile_think_ms)
                   ? 0
                   : 1;
    }

    const std::int64_t plain = search_positions(evaluator.get(), chosen.playouts, search::search_mode::plain);
    std::printf("\nplain signature (total nodes): %lld\n", static_cast<long long>(plain));
    search::eval_cache.clear();
    const std::int64_t threat = search_positions(evaluator.get(), chosen.playouts, search::search_mode::threat_aware);
    std::printf("\nthreat signature (total nodes): %lld\n", static_cast<long long>(threat));

    bench::time_solver();

    time_trim();
    if (chosen.growth_playouts > 0) memory_growth(evaluator.get(), chosen.growth_playouts);
    return 0;
}
