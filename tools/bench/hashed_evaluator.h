// A stand-in for the network that costs next to nothing and gives every
// position the same answer in every run: weights and value are mixed from a
// hash of the cells and the side to move. No randomness.
#pragma once

#include <cstdint>
#include <vector>

#include "eval/evaluator.h"

namespace bench {

class hashed_evaluator : public eval::Evaluator {
public:
    std::vector<eval::evaluation_array> Evaluate(std::vector<const std::int8_t*> boards,
                                                 std::vector<std::int8_t> sides) override;
};

/// Counts the calls made to another evaluator (which must outlive it).
class counting_evaluator : public eval::Evaluator {
public:
    explicit counting_evaluator(eval::Evaluator* inner) : inner_(inner) {}
    std::vector<eval::evaluation_array> Evaluate(std::vector<const std::int8_t*> boards,
                                                 std::vector<std::int8_t> sides) override {
        positions += static_cast<std::int64_t>(boards.size());
        return inner_->Evaluate(std::move(boards), std::move(sides));
    }
    std::int64_t positions = 0;

private:
    eval::Evaluator* inner_;
};

}  // namespace bench
