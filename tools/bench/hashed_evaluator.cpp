#include "tools/bench/hashed_evaluator.h"

#include <memory>

namespace bench {

namespace {

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A real network puts most of its weight on a few moves; raising a uniform
// number to the 16th power (four squarings) leaves about a tenth of an empty
// board's cells above the search's expansion floor.
double sharpen(double u) {
    for (int squaring = 0; squaring < 4; ++squaring) u *= u;
    return u;
}

double unit_from(std::uint64_t bits) { return static_cast<double>(bits >> 11) * 0x1.0p-53; }

}  // namespace

std::vector<eval::evaluation_array> hashed_evaluator::Evaluate(std::vector<const std::int8_t*> boards,
                                                               std::vector<std::int8_t> sides) {
    std::vector<eval::evaluation_array> results;
    results.reserve(boards.size());
    for (std::size_t i = 0; i < boards.size(); ++i) {
        std::uint64_t position = 0xcbf29ce484222325ULL ^ static_cast<std::uint64_t>(sides[i] + 2);
        for (int cell = 0; cell < eval::board_cells; ++cell) {
            position = (position ^ static_cast<std::uint8_t>(boards[i][cell] + 1)) * 0x100000001b3ULL;
        }
        auto array = std::make_unique<float[]>(eval::evaluation_size);
        for (int cell = 0; cell < eval::board_cells; ++cell) {
            const double u = unit_from(mix(position + 0x9e3779b97f4a7c15ULL * static_cast<std::uint64_t>(cell + 1)));
            array[cell] = static_cast<float>(sharpen(u));
        }
        array[eval::board_cells] = static_cast<float>(1.8 * unit_from(mix(position)) - 0.9);
        results.push_back(std::move(array));
    }
    return results;
}

}  // namespace bench
