#include "search/search_tree.h"

#include <chrono>
#include <ctime>
#include <utility>

#include "search/move_choice.h"
#include "search/search_constants.h"

namespace search {

search_tree::search_tree(std::unique_ptr<tree_node> root, eval::Evaluator* evaluator, std::int32_t area_width,
                         std::int32_t area_height, search_mode mode)
    : mode_(mode),
      cache_salt_(0),
      evaluator_(evaluator),
      area_(playing_area::clamped(area_width, area_height)),
      rng_(static_cast<std::uint32_t>(std::time(nullptr))) {
    if (area_.width != play::board_size || area_.height != play::board_size) {
        // splitmix64's finaliser of the size: any fixed, well-mixed value does.
        std::uint64_t z = 0x9e3779b97f4a7c15ULL * static_cast<std::uint64_t>(area_.width * 64 + area_.height);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        cache_salt_ = z ^ (z >> 31);
    }
    if (mode_ == search_mode::threat_aware) threat_ = std::make_unique<threat_context>(area_);
    set_root(std::move(root));
}

void search_tree::plan_think(std::int32_t think_ms) {
    if (!threat_) return;
    threat_->think_ms = think_ms;
    threat_->think_end = threat::SearchBudget::Clock::now() + std::chrono::milliseconds(think_ms);
}

void search_tree::use_root_budget(const root_solver_budget& caps) {
    if (!threat_) return;
    threat_->budget = caps;
    threat_->clock = false;
}

void search_tree::seed(std::uint64_t seed) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
    rng_.seed(sequence);
    noise_engine_.emplace(static_cast<std::uint32_t>(rng_()));
}

void search_tree::noise_root(tree_node& node) {
    if (!noise_engine_) {
        node.add_root_noise(root_noise_concentration, root_noise_weight, area_);
        return;
    }
    std::gamma_distribution<float> gamma(root_noise_concentration, 1.0f);
    std::vector<float> draws;
    for (int row = 0; row < area_.height; ++row) {
        for (int column = 0; column < area_.width; ++column) {
            if (node.board.cells[play::cell_index(row, column)] == play::empty) draws.push_back(gamma(*noise_engine_));
        }
    }
    node.mix_root_noise(draws, root_noise_weight, area_);
}

void search_tree::set_root(std::unique_ptr<tree_node> new_root) {
    root_.reset();
    root_ = std::move(new_root);
    root_->parent_edge = nullptr;
    if (threat_) threat_->reset_to(root_->board);
}

void search_tree::advance(play::packed_move move) {
    const std::int32_t row = play::packed_row(move);
    const std::int32_t column = play::packed_column(move);
    if (root_->expanded) {
        for (tree_edge& edge : root_->children) {
            if (play::packed_row(edge.move) != row || play::packed_column(edge.move) != column) continue;
            if (!edge.created) edge.create_child();
            edge.kept = true;
            set_root(std::move(edge.child));
            return;
        }
    }
    if (play::on_board(row, column) && root_->board.cells[play::cell_index(row, column)] != play::empty) return;
    auto fresh = make_root(root_->board, static_cast<std::int8_t>(-root_->to_move));
    play::put_stone(fresh->board, root_->to_move, move);
    set_root(std::move(fresh));
}

namespace {

play::packed_move move_at(int index) {
    if (index < 0) index = 0;
    return play::make_packed_move(index / play::board_size, index % play::board_size);
}

}  // namespace

play::packed_move search_tree::certain_move() const {
    if (threat_) {
        const tree_node& root = *root_;
        // A proof's move is played only where a stone can go: a proof whose
        // winning move is unknown falls back to the child proven lost.
        const play::packed_move proof = root.proof_move;
        if (root.proven > 0 && proof != no_move && area_.contains(play::packed_row(proof), play::packed_column(proof)) &&
            root.board.cells[play::cell_index(play::packed_row(proof), play::packed_column(proof))] == play::empty)
            return proof;
        for (const tree_edge& edge : root.children) {
            if (edge.child && edge.child->proven < 0) return edge.move;
        }
    }
    return five_move(root_->board, root_->to_move, area_);
}

play::packed_move search_tree::choose_move(double temperature, float* share, std::int32_t* visits) {
    if (const play::packed_move certain = certain_move(); certain != no_move) {
        if (share != nullptr) *share = 1.0f;
        if (visits != nullptr) *visits = certain_visits;
        return certain;
    }
    const bool skip_lost = threat_ != nullptr;
    const move_distribution visit_shares = move_weights(*root_, 1.0, skip_lost);
    const move_distribution weights = move_weights(*root_, temperature, skip_lost);
    std::random_device entropy;
    std::mt19937 engine(entropy());
    const int index = draw_index(weights, unit_(engine));
    const play::packed_move move = move_at(index);

    if (share != nullptr) *share = index >= 0 ? visit_shares[index] : 0.0f;
    if (visits != nullptr) {
        *visits = 0;
        for (const tree_edge& edge : root_->children) {
            if (edge.move != move) continue;
            if (edge.child) *visits = edge.child->visits;
            break;
        }
    }
    return move;
}

play::packed_move search_tree::choose_and_advance(double temperature) {
    if (const play::packed_move certain = certain_move(); certain != no_move) {
        advance(certain);
        return certain;
    }
    const move_distribution weights = move_weights(*root_, temperature, threat_ != nullptr);
    const play::packed_move move = move_at(draw_index(weights, unit_(rng_)));
    advance(move);
    return move;
}

}  // namespace search
