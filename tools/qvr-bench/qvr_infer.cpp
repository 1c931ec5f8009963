// qvr-infer: runs a model file on raw float32 inputs, for checks from scripts.
//
//   qvr-infer --list-paths
//       prints the kernel paths this CPU can run, one per line (the int8
//       ones only run quantised models)
//   qvr-infer MODEL KERNELS BATCH INPUT_FILE OUTPUT_FILE
//       reads BATCH samples of the model's first input (little-endian float32,
//       row-major) and writes every output in model order, each BATCH samples.
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "qvr/model_base.h"

namespace {

int run(const std::string& model_path, const std::string& kernels, std::uint64_t batch, const std::string& input_path,
        const std::string& output_path) {
    qvr::ModelBase model("qvr-infer", "");
    model.LoadModelFromFile(model_path, "gpu_id=0,kernels=" + kernels);
    const std::string input_name = model.ListInputBlobNames().at(0);
    const qvr::TShape sample = model.GetInputBlobShape(input_name);
    std::vector<std::uint64_t> extents{batch};
    extents.insert(extents.end(), sample.extents().begin(), sample.extents().end());
    const qvr::TShape shape(extents);

    std::vector<float> input(shape.element_count());
    std::ifstream in(input_path, std::ios::binary);
    in.read(reinterpret_cast<char*>(input.data()), static_cast<std::streamsize>(input.size() * sizeof(float)));
    if (!in || in.peek() != EOF) {
        std::fprintf(stderr, "qvr-infer: %s does not hold exactly %zu floats\n", input_path.c_str(), input.size());
        return 1;
    }
    std::vector<qvr::TBlob> outputs;
    model.InferBatch({qvr::TBlob(qvr::Float32, input_name, shape, input.data())}, outputs);
    std::ofstream out(output_path, std::ios::binary);
    for (const qvr::TBlob& blob : outputs)
        out.write(static_cast<const char*>(blob.__Data()),
                  static_cast<std::streamsize>(blob.shape().element_count() * sizeof(float)));
    if (!out) {
        std::fprintf(stderr, "qvr-infer: cannot write %s\n", output_path.c_str());
        return 1;
    }
    std::printf("%s\n", qvr::kernel_path_name(model.kernel_path()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 2 && std::string(argv[1]) == "--list-paths") {
            for (qvr::KernelPath path : qvr::supported_kernel_paths(true)) std::printf("%s\n", qvr::kernel_path_name(path));
            return 0;
        }
        if (argc != 6) {
            std::fprintf(stderr, "usage: qvr-infer --list-paths | MODEL KERNELS BATCH INPUT OUTPUT\n");
            return 2;
        }
        return run(argv[1], argv[2], std::stoull(argv[3]), argv[4], argv[5]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qvr-infer: %s\n", error.what());
        return 1;
    }
}
