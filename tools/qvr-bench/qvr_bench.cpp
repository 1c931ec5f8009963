// qvr-bench: single-thread, batch-1 speed of every kernel path.
//
//   qvr-bench [--model FILE | --blocks B --channels C] [--seconds S] [--paths p1,p2]
//
// Without --model it benchmarks a seeded random residual network of the given
// size on a 3x20x20 input. Each path runs one position per InferBatch call,
// the way the engine calls it, and prints evaluations per second of the
// thread's CPU time (steady while other jobs share the cores) and of wall time.
// The int8 paths run only on a quantised file (export_qvm.py --from-qvm).
#include <chrono>
#include <ctime>
#include <cstdio>
#include <exception>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "qvr/model_base.h"
#include "qvr/model_file.h"
#include "qvr/random_network.h"

namespace {

// Long enough to average out timer noise and warm caches, short enough to
// run all paths in well under a minute.
constexpr double default_seconds = 3.0;
constexpr int warmup_calls = 50;
constexpr std::uint32_t random_network_seed = 474;

struct Options {
    std::string model;
    qvr::ResidualNetworkShape shape;
    double seconds = default_seconds;
    std::vector<qvr::KernelPath> paths;  // empty: every path the CPU and the model allow
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error("missing value after " + arg);
            return argv[++i];
        };
        if (arg == "--model") {
            options.model = value();
        } else if (arg == "--blocks") {
            options.shape.blocks = static_cast<std::uint32_t>(std::stoul(value()));
        } else if (arg == "--channels") {
            options.shape.channels = static_cast<std::uint32_t>(std::stoul(value()));
        } else if (arg == "--seconds") {
            options.seconds = std::stod(value());
        } else if (arg == "--paths") {
            std::stringstream list(value());
            std::string name;
            while (std::getline(list, name, ',')) {
                const auto path = qvr::parse_kernel_path(name);
                if (!path) throw std::runtime_error("unknown path " + name);
                options.paths.push_back(*path);
            }
        } else {
            throw std::runtime_error("unknown argument " + arg);
        }
    }
    return options;
}

double thread_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Rates {
    double per_cpu_second;
    double per_wall_second;
};

Rates evals_per_second(const std::string& model_path, qvr::KernelPath path, double seconds) {
    qvr::ModelBase model("qvr-bench", "");
    model.LoadModelFromFile(model_path, std::string("gpu_id=0,kernels=") + qvr::kernel_path_name(path));
    const std::string input_name = model.ListInputBlobNames().at(0);
    const qvr::TShape sample = model.GetInputBlobShape(input_name);
    std::vector<std::uint64_t> extents{1};
    extents.insert(extents.end(), sample.extents().begin(), sample.extents().end());
    const qvr::TShape shape(extents);

    std::mt19937 random(1);
    std::bernoulli_distribution stone(0.3);
    std::vector<float> input(shape.element_count());
    for (float& value : input) value = stone(random) ? 1.0f : 0.0f;

    std::vector<qvr::TBlob> outputs;
    const std::vector<qvr::TBlob> inputs{qvr::TBlob(qvr::Float32, input_name, shape, input.data())};
    for (int i = 0; i < warmup_calls; ++i) model.InferBatch(inputs, outputs);
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = thread_cpu_seconds();
    long calls = 0;
    double cpu = 0.0;
    do {
        for (int i = 0; i < 10; ++i) model.InferBatch(inputs, outputs);
        calls += 10;
        cpu = thread_cpu_seconds() - cpu_start;
    } while (cpu < seconds);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {static_cast<double>(calls) / cpu, static_cast<double>(calls) / wall};
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Options options = parse(argc, argv);
        std::string model_path = options.model;
        if (model_path.empty()) {
            model_path = "/tmp/qvr-bench-" + std::to_string(options.shape.blocks) + "x" +
                         std::to_string(options.shape.channels) + ".qvm";
            qvr::write_model_file(qvr::random_residual_network(options.shape, random_network_seed), model_path);
            std::printf("network: random %u blocks x %u channels\n", options.shape.blocks, options.shape.channels);
        } else {
            std::printf("network: %s\n", model_path.c_str());
        }
        const bool quantised = qvr::read_model_file(model_path).quantised();
        if (options.paths.empty()) options.paths = qvr::supported_kernel_paths(quantised);
        for (qvr::KernelPath path : options.paths) {
            if (qvr::is_int8(path) && !quantised) {
                std::printf("%-13s skipped: the model file is not quantised\n", qvr::kernel_path_name(path));
                continue;
            }
            const Rates rate = evals_per_second(model_path, path, options.seconds);
            std::printf("%-13s %9.1f evals/s  %7.3f ms/eval  (wall: %.1f evals/s)\n", qvr::kernel_path_name(path),
                        rate.per_cpu_second, 1000.0 / rate.per_cpu_second, rate.per_wall_second);
            std::fflush(stdout);
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qvr-bench: %s\n", error.what());
        return 1;
    }
}
