// PyTorch parity without PyTorch: a tiny network exported by
// training/export_qvm.py with PyTorch's own outputs on a few positions
// (made by training/make_qvr_test_data.py), checked on every kernel path.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "qvr/model_base.h"

namespace {

constexpr float kTolerance = 1e-4f;
constexpr std::uint64_t kPositions = 6;
constexpr std::size_t kPolicy = 400;

std::vector<float> read_floats(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    EXPECT_TRUE(file) << path;
    std::vector<float> values(static_cast<std::size_t>(file.tellg()) / sizeof(float));
    file.seekg(0);
    file.read(reinterpret_cast<char*>(values.data()), static_cast<std::streamsize>(values.size() * sizeof(float)));
    return values;
}

TEST(QvrGolden, EveryPathReproducesPyTorch) {
    const std::string dir = std::string(ORVALIS_TEST_DATA) + "/qvr/";
    const std::vector<float> inputs = read_floats(dir + "golden_inputs.bin");
    const std::vector<float> expected = read_floats(dir + "golden_outputs.bin");
    ASSERT_EQ(inputs.size(), kPositions * 1200);
    ASSERT_EQ(expected.size(), kPositions * (kPolicy + 1));
    for (qvr::KernelPath path : qvr::supported_kernel_paths()) {
        if (qvr::is_low_precision(path)) continue;  // held to their own bound (qvr_int16_test.cpp)
        SCOPED_TRACE(qvr::kernel_path_name(path));
        qvr::ModelBase model("golden", "");
        model.LoadModelFromFile(dir + "golden.qvm", std::string("gpu_id=0,kernels=") + qvr::kernel_path_name(path));
        EXPECT_EQ(model.ListInputBlobNames(), (std::vector<std::string>{"planes"}));
        EXPECT_EQ(model.ListOutputBlobNames(), (std::vector<std::string>{"policy", "value"}));
        std::vector<qvr::TBlob> outputs;
        model.InferBatch({qvr::TBlob(qvr::Float32, "planes", qvr::TShape{kPositions, 3, 20, 20}, inputs.data())},
                         outputs);
        ASSERT_EQ(outputs.size(), 2u);
        const auto* policy = static_cast<const float*>(outputs[0].__Data());
        const auto* value = static_cast<const float*>(outputs[1].__Data());
        float worst = 0.0f;
        for (std::size_t i = 0; i < kPositions * kPolicy; ++i) worst = std::max(worst, std::abs(policy[i] - expected[i]));
        for (std::size_t i = 0; i < kPositions; ++i)
            worst = std::max(worst, std::abs(value[i] - expected[kPositions * kPolicy + i]));
        EXPECT_LE(worst, kTolerance);
    }
}

}  // namespace
