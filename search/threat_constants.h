// Budgets of the threat-aware search. Each says where its value comes from.
#pragma once

#include <cstdint>

namespace search {

/// Nodes of the continuous-fours search at each new leaf. Measured on the
/// 80 positions of tests/data/tactics, 300 playouts each with the shipped
/// network: 50, 200 and 1000 nodes found 691, 717 and 743 leaf wins in
/// about 11,600 leaf checks, at the same time outside the evaluator (most
/// checks end in a few nodes), so the largest stays.
inline constexpr std::int64_t leaf_vcf_nodes = 1000;

/// Smallest prior of an answer to a forced position, so that a defence the
/// network never thought of still gets visits.
inline constexpr float forced_prior_floor = 0.01f;

/// Think time assumed when the front-end gives none (tools at fixed playouts).
inline constexpr std::int32_t default_think_ms = 1000;

/// The root solver's allowance, as shares of the think time in percent and
/// as node caps (the caps bind in tools, which search without a clock).
struct root_solver_budget {
    std::int64_t own_vcf_nodes;
    std::int64_t own_vct_nodes;
    std::int64_t opponent_vcf_nodes;
    std::int64_t opponent_vct_nodes;
    std::int64_t defence_nodes_each;
    int own_vcf_percent;
    int own_vct_percent;
    int opponent_percent;
    int defence_percent;
};

inline constexpr root_solver_budget default_root_budget{
    200000, 100000, 50000, 50000, 3000, 5, 5, 3, 7,
};

}  // namespace search
