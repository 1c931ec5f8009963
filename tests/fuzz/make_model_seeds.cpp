// Writes the seed corpus of the model loader fuzzer: small networks of the
// engine's input and output shapes (so they load and run in microseconds),
// plus a few damaged copies. Run once by hand when the model format changes:
//   orvalis-fuzz-model-seeds tests/fuzz/corpus/model_loader
#include <cstdio>
#include <string>

#include "qvr/model_file.h"
#include "qvr/random_network.h"

namespace {

void write(const std::string& folder, const std::string& name, const std::string& bytes) {
    const std::string path = folder + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    struct seed {
        const char* name;
        qvr::ResidualNetworkShape shape;
    };
    const seed seeds[] = {
        {"no_blocks.qvm", {0, 2, 3, 20, 20, 1, 2}},
        {"one_block.qvm", {1, 4, 3, 20, 20, 2, 4}},
        {"two_blocks.qvm", {2, 3, 3, 20, 20, 1, 3}},
        {"wrong_board.qvm", {1, 2, 3, 9, 9, 1, 2}},
    };
    std::uint32_t random_seed = 1;
    for (const seed& s : seeds) {
        const std::string bytes = qvr::serialize_model(qvr::random_residual_network(s.shape, random_seed++));
        write(folder, s.name, bytes);
        if (s.shape.blocks == 1) {
            write(folder, "truncated.qvm", bytes.substr(0, bytes.size() / 2));
            write(folder, "header_only.qvm", bytes.substr(0, 16));
            write(folder, "trailing_byte.qvm", bytes + '\0');
        }
    }
    return 0;
}
